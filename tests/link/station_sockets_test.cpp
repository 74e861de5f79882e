// Connecting stations: the 500 ms rule, cold-start bring-up and the start packet.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "contracts/dov_pakt.h"
#include "countnet/codecs.h"
#include "link/station_objects.h"
#include "link/station_sockets.h"
#include "tests/support/driver_harness.h"
#include "tests/support/loopback.h"

namespace {

using testing_support::ConnectTo;
using testing_support::HostBlock;
using testing_support::Listener;
using testing_support::LogCapture;
using testing_support::TestAddress;
using testing_support::WinsockSession;

class StationSockets : public testing::Test {
 protected:
  StationSockets() : host_(0) {
    ApplyDefaults(*host_.get());
    host_.get()->instanceNumber.Set(1);
  }
  ~StationSockets() override {
    for (StationEntry &station : host_.get()->stations) {
      if (station.socket.Load() != kNoSocket) win::closesocket(station.socket.Load());
      iPktFreePacket(station.packet.Get());
      iMsgFreeMessage(station.message.Get());
    }
    ReleasePrivateState(host_.get());
  }
  void Configure(int station, const std::string &address) {
    std::snprintf(host_.get()->stations[station].ipAddress, kIpAddressSize, "%s", address.c_str());
  }
  InstanceBlock *block() { return host_.get(); }

  WinsockSession winsock_;
  HostBlock host_;
};

TEST_F(StationSockets, AListeningStationIsConnected) {
  const std::string address = TestAddress(51);
  Listener station(address);
  ASSERT_TRUE(station.ok());
  LogCapture log;
  std::int32_t socket = kNoSocket;
  EXPECT_EQ(InitDOVCh(block(), address.c_str(), &socket), 1);
  ASSERT_NE(socket, kNoSocket);
  win::SOCKET accepted = station.Accept(10000);
  EXPECT_NE(accepted, INVALID_SOCKET);
  win::closesocket(accepted);
  win::closesocket(static_cast<win::SOCKET>(socket));
  EXPECT_EQ(log.Texts(), std::vector<std::string>{"OxaDOV01: InitDOVCh() Socket connected. IP " +
                                                  address + " Socket " + std::to_string(socket)});
}

TEST_F(StationSockets, RefusingAndLateStationsFailAndLeaveTheSocketAlone) {
  // A listener whose backlog is full answers no new connection within 500 ms.
  Listener late(TestAddress(53), 0);
  ASSERT_TRUE(late.ok());
  win::SOCKET filler = ConnectTo(TestAddress(53), 10000);
  ASSERT_NE(filler, INVALID_SOCKET);
  const struct {
    std::string address;
    const char *cause;  // the detail line that follows the failure
  } cases[] = {{TestAddress(52), "refused the connection"},
               {TestAddress(53), "did not answer within 500 ms"}};
  for (const auto &c : cases) {
    LogCapture log;
    std::int32_t socket = 4321;
    EXPECT_EQ(InitDOVCh(block(), c.address.c_str(), &socket), 0) << c.address;
    EXPECT_EQ(socket, 4321) << c.address;
    EXPECT_EQ(log.Texts(), (std::vector<std::string>{
                               "OxaDOV01: InitDOVCh() Failed to connect to IP Address " + c.address,
                               "OxaDOV01: InitDOVCh() IP Address " + c.address + " " + c.cause}));
  }
  win::closesocket(filler);
}

// A connect released undecided stays open, and the system repeats its request by itself
// at steps of about a second: a station that has room by then is connected through the
// connect a later batch adopted, without a new socket.
TEST_F(StationSockets, AHeldConnectIsAnsweredThroughTheSystemsRepeatedRequest) {
  // The backlog gets room again half-way before the first repeat, and half-way before the
  // last that the system makes at one-second steps: the re-open thread holds a connect
  // that long, so that repeat must still reach the station.
  struct Case {
    int address;
    int unansweredMs;
  } cases[] = {{57, 500}, {58, (win::ConnectRepeatsEverySecond() - 1) * 1000 + 500}};
  for (const Case &c : cases) {
    SCOPED_TRACE("unanswered for " + std::to_string(c.unansweredMs) + " ms");
    const std::string address = TestAddress(c.address);
    Listener station(address, 0);
    ASSERT_TRUE(station.ok());
    win::SOCKET filler = ConnectTo(address, 10000);
    ASSERT_NE(filler, INVALID_SOCKET);
    auto started = std::chrono::steady_clock::now();
    ConnectBatch first(1);
    int i = first.Add(address.c_str());
    first.Wait();
    ASSERT_FALSE(first.Decided(i)) << "a full backlog answers nothing";
    PendingConnect held = first.Release(i);
    ASSERT_NE(held.socket, INVALID_SOCKET);
    // Later rounds watch the same connect, each for its window.
    auto watch = [&](std::int32_t *socket) {
      ConnectBatch later(1);
      int j = later.Adopt(address.c_str(), held);
      later.Wait();
      if (!later.Decided(j)) {
        held = later.Release(j);
        return false;
      }
      EXPECT_EQ(later.Conclude(j, false, socket), 1);
      EXPECT_EQ(static_cast<win::SOCKET>(*socket), held.socket);
      return true;
    };
    std::int32_t socket = kNoSocket;
    while (std::chrono::steady_clock::now() - started < std::chrono::milliseconds(c.unansweredMs)) {
      ASSERT_FALSE(watch(&socket)) << "answered while the backlog was full";
    }
    win::SOCKET queued = station.Accept(10000);  // the backlog has room again
    ASSERT_NE(queued, INVALID_SOCKET);
    // The repeat is due within about half a second; two windows give it one. A system
    // that backs off sooner than it says repeats two seconds or more after the last one.
    for (int round = 0; round < 2 && socket == kNoSocket; ++round) watch(&socket);
    ASSERT_NE(socket, kNoSocket) << "no repeated request within a second";
    win::SOCKET accepted = station.Accept(10000);
    EXPECT_NE(accepted, INVALID_SOCKET);
    for (win::SOCKET s : {accepted, queued, filler, static_cast<win::SOCKET>(socket)}) {
      win::closesocket(s);
    }
  }
}

TEST_F(StationSockets, ColdStartConnectsTheReachableStationsOnly) {
  const std::string silent = TestAddress(55), listening = TestAddress(54);
  Listener reachable(listening);
  ASSERT_TRUE(reachable.ok());
  Configure(3, silent);  // nobody listens there
  Configure(7, listening);
  LogCapture log;

  EXPECT_EQ(InitDOV(block(), RenewPrivateState(block())), 1);

  std::int32_t socket = block()->stations[7].socket.Load();
  ASSERT_NE(socket, kNoSocket);
  EXPECT_EQ(block()->stations[3].socket.Load(), kNoSocket);
  EXPECT_EQ(block()->stations[3].packet.Get(), nullptr);
  EXPECT_EQ(block()->stations[3].message.Get(), nullptr);
  EXPECT_NE(block()->stations[7].packet.Get(), nullptr);
  EXPECT_NE(block()->stations[7].message.Get(), nullptr);
  std::string s = std::to_string(socket);
  EXPECT_EQ(log.Texts(),
            (std::vector<std::string>{
                "OxaDOV01: InitDOVCh() Failed to connect to IP Address " + silent,
                "OxaDOV01: InitDOVCh() IP Address " + silent + " refused the connection",
                "OxaDOV1: InitFms() Failed to connect to PLC 03 I.P. addr " + silent,
                "OxaDOV01: InitDOVCh() Socket connected. IP " + listening + " Socket " + s,
                "OxaDOV1: InitFms() PLC 07 I.P. " + listening + " Socket " + s +
                    " connected successfully",
            }));
  win::SOCKET accepted = reachable.Accept(10000);
  win::closesocket(accepted);
  win::WSACleanup();  // InitDOV's own start-up
}

TEST_F(StationSockets, ColdStartWithoutStationsSaysSoOnce) {
  LogCapture log;
  EXPECT_EQ(InitDOV(block(), RenewPrivateState(block())), 0);
  EXPECT_EQ(log.Texts(),
            std::vector<std::string>{"OxaDOV1: InitFms() Failed to connect to ANY PLC"});
  win::WSACleanup();
}

TEST_F(StationSockets, AConnectedStationGetsItsObjectsWithTheStartPacketOnce) {
  InstancePrivate &state = RenewPrivateState(block());
  PrepareInstanceState(block(), state);
  EnsureStationObjects(state, 9);
  void *packet = block()->stations[9].packet.Get();
  void *message = block()->stations[9].message.Get();
  ASSERT_NE(packet, nullptr);
  ASSERT_NE(message, nullptr);

  void *connect = pvPktGetNextMessagePointer(packet, nullptr);
  void *getConfig = pvPktGetNextMessagePointer(packet, connect);
  EXPECT_EQ(wMsgGetMessageType(connect), kMessageConnect);
  EXPECT_EQ(wMsgGetFirstField(connect), 0) << "the connect message has no fields";
  EXPECT_EQ(wMsgGetMessageType(getConfig), kMessageGetConfig);
  EXPECT_EQ(wCfgGetConfigRequest(getConfig), 1);
  EXPECT_EQ(pvPktGetNextMessagePointer(packet, getConfig), nullptr);

  EnsureStationObjects(state, 9);  // a later connection keeps the objects
  EXPECT_EQ(block()->stations[9].packet.Get(), packet);
  EXPECT_EQ(block()->stations[9].message.Get(), message);
}

}  // namespace
