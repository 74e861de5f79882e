// Properties of the POSIX emulation that only exist on POSIX: errno translation,
// descriptor numbers beyond fd_set's reach, thread stacks and signal handling.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "platform/posix/wsa_errors.h"
#include "platform/winapi.h"
#include "tests/support/loopback.h"

namespace {

using testing_support::ConnectTo;
using testing_support::Listener;
using testing_support::TestAddress;

TEST(ErrnoTranslation, EachErrnoHasItsWinsockCode) {
  struct Case {
    int error;
    int wsaError;
  } cases[] = {
      {EWOULDBLOCK, 10035},
      {EAGAIN, 10035},
      {EINPROGRESS, 10035},
      {EALREADY, 10037},
      {EISCONN, 10056},
      {ECONNREFUSED, 10061},
      {ECONNRESET, 10054},
      {EPIPE, 10054},
      {EBADF, 10038},
      {ENOTSOCK, 10038},
      {ETIMEDOUT, 10060},
      {ENETUNREACH, 10051},
      {EHOSTUNREACH, 10065},
      {ENOTCONN, 10057},
      {EMFILE, 10024},
      // Anything without a counterpart of its own:
      {EDOM, 10107},
      {0, 10107},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(win::posix::WsaErrorFromErrno(c.error), c.wsaError) << "errno " << c.error;
  }
}

TEST(ErrnoTranslation, TheLastErrorBelongsToTheThreadThatFailed) {
  win::posix::RecordError(WSAECONNRESET);
  int otherThreads = -1;
  std::thread other([&] {
    win::posix::RecordError(WSAETIMEDOUT);
    otherThreads = win::WSAGetLastError();
  });
  other.join();
  EXPECT_EQ(otherThreads, WSAETIMEDOUT);
  EXPECT_EQ(win::WSAGetLastError(), WSAECONNRESET);
}

// A host process often has more than 1024 descriptors open; select must still work.
TEST(Select, PollsASocketNumberedAbove1024) {
  constexpr int kHighDescriptor = 1500;
  rlimit limit;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
  if (limit.rlim_cur <= kHighDescriptor) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
    getrlimit(RLIMIT_NOFILE, &limit);
  }
  if (limit.rlim_cur <= kHighDescriptor) GTEST_SKIP() << "descriptor limit too low";

  testing_support::WinsockSession session;
  Listener listener(TestAddress(21));
  ASSERT_TRUE(listener.ok());
  win::SOCKET client = ConnectTo(TestAddress(21), 10000);
  ASSERT_NE(client, INVALID_SOCKET);
  win::SOCKET server = listener.Accept(10000);
  ASSERT_NE(server, INVALID_SOCKET);
  ASSERT_EQ(dup2(static_cast<int>(client), kHighDescriptor), kHighDescriptor);
  win::closesocket(client);
  auto high = static_cast<win::SOCKET>(kHighDescriptor);

  win::fd_set readable;
  win::FdZero(&readable);
  win::FdSet(high, &readable);
  win::timeval zero{0, 0};
  EXPECT_EQ(win::select(1, &readable, nullptr, nullptr, &zero), 0);
  EXPECT_EQ(readable.fd_count, 0u);

  ASSERT_EQ(win::send(server, "x", 1, 0), 1);
  win::FdZero(&readable);
  win::FdSet(high, &readable);
  win::timeval generous{10, 0};
  EXPECT_EQ(win::select(1, &readable, nullptr, nullptr, &generous), 1);
  EXPECT_TRUE(win::FdIsSet(high, &readable));
  win::closesocket(high);
  win::closesocket(server);
}

TEST(Select, AnUnopenedDescriptorIsNotASocket) {
  win::fd_set readable;
  win::FdZero(&readable);
  win::FdSet(static_cast<win::SOCKET>(1999), &readable);
  win::timeval zero{0, 0};
  EXPECT_EQ(win::select(1, &readable, nullptr, nullptr, &zero), SOCKET_ERROR);
  EXPECT_EQ(win::WSAGetLastError(), WSAENOTSOCK);
  EXPECT_EQ(readable.fd_count, 0u);
}

struct StackProbe {
  size_t stackSize = 0;
  win::HANDLE done = nullptr;
};

TEST(Threads, SmallStackRequestsAreRaisedToHoldTheCLibrarysThreadData) {
  StackProbe probe;
  probe.done = win::CreateEventA(nullptr, FALSE, FALSE, nullptr);
  auto measure = [](void *raw) {
    auto *p = static_cast<StackProbe *>(raw);
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) == 0) {
      pthread_attr_getstacksize(&attributes, &p->stackSize);
      pthread_attr_destroy(&attributes);
    }
    win::SetEvent(p->done);
  };
  ASSERT_NE(win::_beginthread(measure, 32768, &probe), static_cast<std::uintptr_t>(-1));
  ASSERT_EQ(win::WaitForSingleObject(probe.done, 10000), WAIT_OBJECT_0);
  EXPECT_GE(probe.stackSize, 256u * 1024u);
  win::CloseHandle(probe.done);
}

// The host owns signal handling: using sockets must not install or change a handler.
TEST(Signals, SocketUseLeavesSigpipeHandlingAlone) {
  struct sigaction before, after;
  ASSERT_EQ(sigaction(SIGPIPE, nullptr, &before), 0);
  {
    testing_support::WinsockSession session;
    Listener listener(TestAddress(22));
    win::SOCKET client = ConnectTo(TestAddress(22), 10000);
    win::SOCKET server = listener.Accept(10000);
    win::closesocket(server);
    char chunk[512] = {};
    for (int i = 0; i < 200; ++i) win::send(client, chunk, sizeof chunk, 0);
    win::closesocket(client);
  }
  ASSERT_EQ(sigaction(SIGPIPE, nullptr, &after), 0);
  EXPECT_EQ(before.sa_handler, after.sa_handler);
}

}  // namespace
