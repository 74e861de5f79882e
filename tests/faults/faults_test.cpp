// Faults that a healthy machine rarely shows: a connect that finds no local port, a wait
// that fails, a packet library that is out of memory, a wall clock that is stepped. This
// program defines `connect`, `poll`, `clock_gettime` and the packet library's allocators
// itself, so the driver's calls come here first; an armed fault answers instead of the
// real call, everything else passes through.
#include <dlfcn.h>
#include <poll.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "contracts/dov_pakt.h"
#include "link/station_objects.h"
#include "link/station_sockets.h"
#include "tests/support/driver_harness.h"
#include "tests/support/loopback.h"

namespace {

// Armed on the test's own thread only, so that no other thread of the process is hit.
thread_local int failNextPollWith = 0;
thread_local int failNextConnectWith = 0;
thread_local int failPacketAllocations = 0;
thread_local int failMessageAllocations = 0;
thread_local time_t wallClockStep = 0;  // seconds added to what CLOCK_REALTIME reads

template <typename F>
F Next(const char *name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

int TakeFault(int *armed) {
  int error = *armed;
  *armed = 0;
  return error;
}

}  // namespace

extern "C" int poll(pollfd *fds, nfds_t count, int timeoutMs) {
  if (int error = TakeFault(&failNextPollWith)) {
    errno = error;
    return -1;
  }
  static auto real = Next<int (*)(pollfd *, nfds_t, int)>("poll");
  return real(fds, count, timeoutMs);
}

extern "C" int connect(int fd, const sockaddr *address, socklen_t length) {
  if (int error = TakeFault(&failNextConnectWith)) {
    errno = error;
    return -1;
  }
  static auto real = Next<int (*)(int, const sockaddr *, socklen_t)>("connect");
  return real(fd, address, length);
}

extern "C" int clock_gettime(clockid_t clock, timespec *now) {
  static auto real = Next<int (*)(clockid_t, timespec *)>("clock_gettime");
  int rc = real(clock, now);
  if (rc == 0 && clock == CLOCK_REALTIME) now->tv_sec += wallClockStep;
  return rc;
}

extern "C" void *pvPktAllocatePacket(int size) {
  if (failPacketAllocations > 0) {
    --failPacketAllocations;
    return nullptr;
  }
  static auto real = Next<void *(*)(int)>("pvPktAllocatePacket");
  return real(size);
}

extern "C" void *pvMsgAllocateMessage(int size) {
  if (failMessageAllocations > 0) {
    --failMessageAllocations;
    return nullptr;
  }
  static auto real = Next<void *(*)(int)>("pvMsgAllocateMessage");
  return real(size);
}

namespace {

using testing_support::HostBlock;
using testing_support::Listener;
using testing_support::LogCapture;
using testing_support::TestAddress;
using testing_support::WaitReadable;
using testing_support::WinsockSession;

// Whether the driver closed its end: the station reads the end of the stream.
bool ClosedByPeer(win::SOCKET accepted) {
  char byte;
  return WaitReadable(accepted, 10000) && win::recv(accepted, &byte, 1, 0) == 0;
}

class LinkFaults : public testing::Test {
 protected:
  LinkFaults() : host_(0) {
    ApplyDefaults(*host_.get());
    host_.get()->instanceNumber.Set(1);
  }
  ~LinkFaults() override {
    for (StationEntry &station : host_.get()->stations) {
      if (station.socket.Load() != kNoSocket) win::closesocket(station.socket.Load());
      iPktFreePacket(station.packet.Get());
      iMsgFreeMessage(station.message.Get());
    }
    ReleasePrivateState(host_.get());
  }
  InstanceBlock *block() { return host_.get(); }

  WinsockSession winsock_;
  HostBlock host_;
};

TEST_F(LinkFaults, AConnectThatCannotStartOrAWaitThatFailsIsReportedAsSuch) {
  const std::string address = TestAddress(61);
  Listener station(address);
  ASSERT_TRUE(station.ok());
  const struct {
    const char *fault;
    int *armed;
    int error;
    std::string cause;  // the detail line after "Failed to connect"
  } cases[] = {
      // On Linux, EAGAIN from a connect means that no local port is left, not "on its way".
      {"no local port", &failNextConnectWith, EAGAIN,
       "could not be reached (socket error " + std::to_string(WSAENOBUFS) + ")"},
      {"the wait fails", &failNextPollWith, ENOMEM,
       ": the wait for the connection failed (socket error " + std::to_string(WSAENOBUFS) + ")"},
  };
  for (const auto &c : cases) {
    LogCapture log;
    std::int32_t socket = 4321;
    *c.armed = c.error;
    EXPECT_EQ(InitDOVCh(block(), address.c_str(), &socket), 0) << c.fault;
    *c.armed = 0;
    EXPECT_EQ(socket, 4321) << c.fault;
    std::string detail =
        "OxaDOV01: InitDOVCh() IP Address " + address + (c.cause[0] == ':' ? "" : " ") + c.cause;
    EXPECT_EQ(log.Texts(),
              (std::vector<std::string>{
                  "OxaDOV01: InitDOVCh() Failed to connect to IP Address " + address, detail}))
        << c.fault;
    // A connect that did reach the station is closed again, never left half-open.
    win::SOCKET accepted = station.Accept(200);
    if (accepted != INVALID_SOCKET) {
      EXPECT_TRUE(ClosedByPeer(accepted)) << c.fault;
      win::closesocket(accepted);
    }
  }
}

TEST_F(LinkFaults, AStationWhoseObjectsCannotBeMadeIsNotInstalledAndGetsThemOnTheNextTry) {
  const struct {
    const char *fault;
    int *armed;
  } cases[] = {{"packet", &failPacketAllocations}, {"message", &failMessageAllocations}};
  int n = 62;
  for (const auto &c : cases) {
    const std::string address = TestAddress(n++);
    Listener station(address);
    ASSERT_TRUE(station.ok());
    std::snprintf(block()->stations[4].ipAddress, kIpAddressSize, "%s", address.c_str());
    LogCapture log;
    *c.armed = 1;
    EXPECT_EQ(InitDOV(block(), RenewPrivateState(block())), 1) << c.fault;
    EXPECT_EQ(*c.armed, 0) << c.fault << ": the driver never asked for the object";

    EXPECT_EQ(block()->stations[4].socket.Load(), kNoSocket) << c.fault;
    std::vector<std::string> lines = log.Texts();
    ASSERT_FALSE(lines.empty()) << c.fault;
    EXPECT_EQ(lines.back(),
              "OxaDOV1: PLC 4 packet objects could not be made (out of memory); connection closed")
        << c.fault;
    win::SOCKET accepted = station.Accept(10000);
    ASSERT_NE(accepted, INVALID_SOCKET) << c.fault;
    EXPECT_TRUE(ClosedByPeer(accepted)) << c.fault << ": the connection stayed open";
    win::closesocket(accepted);

    // What was made is kept, and the next try completes the pair.
    EXPECT_TRUE(EnsureStationObjects(*FindPrivateState(block()), 4)) << c.fault;
    EXPECT_NE(block()->stations[4].packet.Get(), nullptr) << c.fault;
    EXPECT_NE(block()->stations[4].message.Get(), nullptr) << c.fault;
    win::WSACleanup();  // InitDOV's own start-up
  }
}

struct Worker {
  std::atomic<bool> released{false};
  int lifetimeMs = 0;
};

// Runs until released, or for its lifetime at most.
unsigned DEVADO_STDCALL RunUntilReleased(void *argument) {
  auto *worker = static_cast<Worker *>(argument);
  for (int ms = 0; ms < worker->lifetimeMs && !worker->released.load(); ms += 10) win::Sleep(10);
  return 0;
}

// Driver end waits for its threads within a bound; the wall clock stepped while it waits
// (an NTP correction, an operator) must neither cut that wait short nor stretch it.
TEST(ThreadJoin, AWallClockStepNeitherCutsShortNorStretchesTheWait) {
  const struct {
    time_t step;
    int lifetimeMs;
    win::DWORD waitMs;
    win::DWORD expected;
  } cases[] = {{-3600, 300, 20000, WAIT_OBJECT_0}, {3600, 20000, 500, WAIT_TIMEOUT}};
  for (const auto &c : cases) {
    Worker worker;
    worker.lifetimeMs = c.lifetimeMs;
    auto thread = reinterpret_cast<win::HANDLE>(
        win::_beginthreadex(nullptr, 0, &RunUntilReleased, &worker, 0, nullptr));
    ASSERT_NE(thread, nullptr);
    wallClockStep = c.step;
    win::DWORD result = win::WaitForSingleObject(thread, c.waitMs);
    wallClockStep = 0;
    EXPECT_EQ(result, c.expected) << "step " << c.step << " s";
    worker.released = true;
    EXPECT_EQ(win::WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    win::CloseHandle(thread);
  }
}

}  // namespace
