// Winsock behaviour that the driver relies on, the same on Linux and under Wine. Each
// test listens on or connects to a loopback address of its own on the station port.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/winapi.h"
#include "tests/support/loopback.h"

namespace {

using testing_support::ConnectTo;
using testing_support::Listener;
using testing_support::MakeAddress;
using testing_support::TestAddress;
using testing_support::WaitReadable;

constexpr int kGenerousMs = 10000;

class Sockets : public testing::Test {
 protected:
  void SetUp() override {
    win::WSADATA data;
    ASSERT_EQ(win::WSAStartup(0x0101, &data), 0);
    EXPECT_EQ(data.wVersion, 0x0101);
  }
  void TearDown() override { win::WSACleanup(); }

  static win::SOCKET NonBlockingSocket() {
    win::SOCKET s = win::socket(AF_INET, SOCK_STREAM, 0);
    win::u_long on = 1;
    EXPECT_NE(s, INVALID_SOCKET);
    EXPECT_EQ(win::ioctlsocket(s, FIONBIO, &on), 0);
    return s;
  }

  // The driver's connection rule: connect, wait 500 ms, connect again; the second call
  // succeeding or reporting "already connected" means connected.
  static bool ConnectTwice(win::SOCKET s, const std::string &address, int *firstError,
                           int *secondError) {
    win::sockaddr_in peer = MakeAddress(address);
    auto *name = reinterpret_cast<win::sockaddr *>(&peer);
    *firstError = win::connect(s, name, sizeof peer) == 0 ? 0 : win::WSAGetLastError();
    win::Sleep(500);
    int rc = win::connect(s, name, sizeof peer);
    *secondError = rc == 0 ? 0 : win::WSAGetLastError();
    return rc >= 0 || *secondError == WSAEISCONN;
  }
};

TEST_F(Sockets, SecondConnectToAListenerCountsAsConnected) {
  Listener listener(TestAddress(11));
  ASSERT_TRUE(listener.ok());
  win::SOCKET s = NonBlockingSocket();
  int first = -1, second = -1;
  EXPECT_TRUE(ConnectTwice(s, TestAddress(11), &first, &second));
  EXPECT_TRUE(first == 0 || first == WSAEWOULDBLOCK) << first;
  EXPECT_EQ(second, WSAEISCONN);
  win::SOCKET accepted = listener.Accept(kGenerousMs);
  EXPECT_NE(accepted, INVALID_SOCKET);
  win::closesocket(accepted);
  EXPECT_EQ(win::closesocket(s), 0);
}

TEST_F(Sockets, SecondConnectToARefusingAddressFails) {
  win::SOCKET s = NonBlockingSocket();
  int first = -1, second = -1;
  EXPECT_FALSE(ConnectTwice(s, TestAddress(12), &first, &second));
  EXPECT_TRUE(first == WSAEWOULDBLOCK || first == WSAECONNREFUSED) << first;
  EXPECT_NE(second, WSAEISCONN);
  EXPECT_NE(second, 0);
  win::closesocket(s);
}

TEST_F(Sockets, SelectReportsDataThenAnEmptyPollClearsTheSets) {
  Listener listener(TestAddress(13));
  ASSERT_TRUE(listener.ok());
  win::SOCKET client = ConnectTo(TestAddress(13), kGenerousMs);
  ASSERT_NE(client, INVALID_SOCKET);
  win::SOCKET server = listener.Accept(kGenerousMs);
  ASSERT_NE(server, INVALID_SOCKET);

  win::fd_set readable, failed;
  win::FdZero(&readable);
  win::FdZero(&failed);
  win::FdSet(client, &readable);
  win::FdSet(client, &failed);
  win::timeval zero{0, 0};
  EXPECT_EQ(win::select(1, &readable, nullptr, &failed, &zero), 0);
  EXPECT_FALSE(win::FdIsSet(client, &readable));
  EXPECT_FALSE(win::FdIsSet(client, &failed));

  ASSERT_EQ(win::send(server, "abc", 3, 0), 3);
  ASSERT_TRUE(WaitReadable(client, kGenerousMs));
  win::FdZero(&readable);
  win::FdZero(&failed);
  win::FdSet(client, &readable);
  win::FdSet(client, &failed);
  EXPECT_EQ(win::select(1, &readable, nullptr, &failed, &zero), 1);
  EXPECT_TRUE(win::FdIsSet(client, &readable));
  EXPECT_FALSE(win::FdIsSet(client, &failed));

  char buffer[8] = {};
  EXPECT_EQ(win::recv(client, buffer, sizeof buffer, 0), 3);
  EXPECT_STREQ(buffer, "abc");
  EXPECT_EQ(win::recv(client, buffer, sizeof buffer, 0), SOCKET_ERROR);
  EXPECT_EQ(win::WSAGetLastError(), WSAEWOULDBLOCK);

  win::closesocket(server);
  ASSERT_TRUE(WaitReadable(client, kGenerousMs));
  EXPECT_EQ(win::recv(client, buffer, sizeof buffer, 0), 0);  // orderly close
  win::closesocket(client);
}

// Runs `body` on a thread that the platform layer starts, as the driver's threads are
// (on POSIX, only such threads keep their waits registered with epoll).
template <typename Body>
unsigned DEVADO_STDCALL RunBody(void *argument) {
  (*static_cast<Body *>(argument))();
  return 0;
}

template <typename Body>
void OnPlatformThread(Body body) {
  auto thread = reinterpret_cast<win::HANDLE>(
      win::_beginthreadex(nullptr, 0, &RunBody<Body>, &body, 0, nullptr));
  ASSERT_NE(thread, nullptr);
  EXPECT_EQ(win::WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  win::CloseHandle(thread);
}

// A wait over many sockets, as the receiving thread makes every pass: exactly the readable
// ones are reported, a socket left out of a wait is not, and a socket number that a new
// connection reuses is watched for the new connection.
void WaitOverManySockets();

TEST_F(Sockets, AWaitOverManySocketsReportsExactlyTheReadableOnes) {
  OnPlatformThread([] { WaitOverManySockets(); });
}

void WaitOverManySockets() {
  constexpr int kPairs = 40;
  Listener listener(TestAddress(14), kPairs);
  ASSERT_TRUE(listener.ok());
  std::vector<win::SOCKET> clients, servers;
  for (int i = 0; i < kPairs; ++i) {
    clients.push_back(ConnectTo(TestAddress(14), kGenerousMs));
    servers.push_back(listener.Accept(kGenerousMs));
    ASSERT_NE(clients.back(), INVALID_SOCKET);
    ASSERT_NE(servers.back(), INVALID_SOCKET);
  }
  // Waits until `expected` sockets of the set are readable; returns which. It waits at
  // least 15 times, as the receiving thread waits pass after pass over the same sockets:
  // a platform may serve a set that it has seen many times otherwise than a new one.
  auto readableOf = [&](const std::vector<win::SOCKET> &named, int expected) {
    std::vector<win::SOCKET> found;
    for (int round = 0; round < kGenerousMs / 10; ++round) {
      win::fd_set readable;
      win::FdZero(&readable);
      for (win::SOCKET s : named) win::FdSet(s, &readable);
      win::timeval tenMs{0, 10000};
      int ready = win::select(0, &readable, nullptr, nullptr, &tenMs);
      found.clear();
      for (win::SOCKET s : named) {
        if (win::FdIsSet(s, &readable)) found.push_back(s);
      }
      EXPECT_EQ(ready, static_cast<int>(found.size()));
      if (ready >= expected && round >= 15) break;
    }
    return found;
  };

  EXPECT_EQ(readableOf(clients, 0), std::vector<win::SOCKET>{});
  for (int i : {3, 17, 39}) ASSERT_EQ(win::send(servers[i], "x", 1, 0), 1);
  EXPECT_EQ(readableOf(clients, 3),
            (std::vector<win::SOCKET>{clients[3], clients[17], clients[39]}));

  // Pair 3 stays unread but is left out; pair 17 gets a new connection on the same socket
  // number within the same list, and only the new connection's data counts.
  std::vector<win::SOCKET> named(clients.begin() + 4, clients.end());
  char byte;
  ASSERT_EQ(win::recv(clients[39], &byte, 1, 0), 1);
  ASSERT_EQ(win::recv(clients[17], &byte, 1, 0), 1);
  EXPECT_EQ(readableOf(named, 0), std::vector<win::SOCKET>{});
  // The new connection is made until it gets the old number, so that the reuse is
  // covered wherever the platform reuses numbers at all.
  win::SOCKET old = clients[17];
  win::closesocket(clients[17]);
  win::closesocket(servers[17]);
  std::vector<win::SOCKET> others;
  for (int attempt = 0; attempt < 20; ++attempt) {
    clients[17] = ConnectTo(TestAddress(14), kGenerousMs);
    servers[17] = listener.Accept(kGenerousMs);
    ASSERT_NE(clients[17], INVALID_SOCKET);
    ASSERT_NE(servers[17], INVALID_SOCKET);
    if (clients[17] == old) break;
    others.push_back(clients[17]);
    others.push_back(servers[17]);
  }
  for (win::SOCKET s : others) win::closesocket(s);
  EXPECT_EQ(clients[17], old) << "the number was not reused: the reuse is not covered";
  named[17 - 4] = clients[17];
  EXPECT_EQ(readableOf(named, 0), std::vector<win::SOCKET>{});
  ASSERT_EQ(win::send(servers[17], "y", 1, 0), 1);
  EXPECT_EQ(readableOf(named, 1), std::vector<win::SOCKET>{clients[17]});

  for (int i = 0; i < kPairs; ++i) {
    win::closesocket(clients[i]);
    win::closesocket(servers[i]);
  }
}

TEST_F(Sockets, SendingToAClosedPeerFailsWithoutEndingTheProcess) {
  Listener listener(TestAddress(14));
  ASSERT_TRUE(listener.ok());
  win::SOCKET client = ConnectTo(TestAddress(14), kGenerousMs);
  ASSERT_NE(client, INVALID_SOCKET);
  win::SOCKET server = listener.Accept(kGenerousMs);
  ASSERT_NE(server, INVALID_SOCKET);
  win::closesocket(server);

  char chunk[1024] = {};
  int error = 0;
  for (int i = 0; i < 1000 && error == 0; ++i) {
    if (win::send(client, chunk, sizeof chunk, 0) == SOCKET_ERROR) {
      error = win::WSAGetLastError();
      if (error == WSAEWOULDBLOCK) error = 0;
    }
    win::Sleep(1);
  }
  EXPECT_TRUE(error == WSAECONNRESET || error == WSAECONNABORTED) << error;
  win::closesocket(client);
}

TEST_F(Sockets, APeerThatResetsMakesTheSocketReadableWithAResetError) {
  Listener listener(TestAddress(15));
  ASSERT_TRUE(listener.ok());
  win::SOCKET client = ConnectTo(TestAddress(15), kGenerousMs);
  ASSERT_NE(client, INVALID_SOCKET);
  win::SOCKET server = listener.Accept(kGenerousMs);
  ASSERT_NE(server, INVALID_SOCKET);
  win::linger abort{1, 0};  // close with a reset instead of an orderly shutdown
  ASSERT_EQ(win::setsockopt(server, SOL_SOCKET, SO_LINGER, reinterpret_cast<char *>(&abort),
                            sizeof abort),
            0);
  win::closesocket(server);

  ASSERT_TRUE(WaitReadable(client, kGenerousMs));
  char buffer[4];
  int rc = win::recv(client, buffer, sizeof buffer, 0);
  // Wine reports a reset to recv as an orderly close; the next send then fails.
  if (rc == 0) rc = win::send(client, buffer, 1, 0);
  EXPECT_EQ(rc, SOCKET_ERROR);
  EXPECT_EQ(win::WSAGetLastError(), WSAECONNRESET);
  win::closesocket(client);
}

TEST_F(Sockets, ClosedSocketsAreReportedAsNotSockets) {
  win::SOCKET s = NonBlockingSocket();
  ASSERT_EQ(win::closesocket(s), 0);
  EXPECT_EQ(win::closesocket(s), SOCKET_ERROR);
  EXPECT_EQ(win::WSAGetLastError(), WSAENOTSOCK);
}

TEST_F(Sockets, NoSocketOutsideAWinsockSession) {
  ASSERT_EQ(win::WSACleanup(), 0);
  EXPECT_EQ(win::socket(AF_INET, SOCK_STREAM, 0), INVALID_SOCKET);
  EXPECT_EQ(win::WSAGetLastError(), WSANOTINITIALISED);
  win::WSADATA data;
  ASSERT_EQ(win::WSAStartup(0x0101, &data), 0);
}

TEST(Addresses, TextAndByteOrderConvertAsOnTheWire) {
  struct Case {
    const char *text;
    unsigned char bytes[4];
    bool valid;
  } cases[] = {
      {"127.0.0.1", {127, 0, 0, 1}, true},
      {"192.168.10.21", {192, 168, 10, 21}, true},
      {"not an address", {255, 255, 255, 255}, false},
  };
  for (const Case &c : cases) {
    unsigned long address = win::inet_addr(c.text);
    EXPECT_EQ(address != INADDR_NONE, c.valid) << c.text;
    if (c.valid) {
      std::uint32_t value = static_cast<std::uint32_t>(address);
      EXPECT_EQ(std::memcmp(&value, c.bytes, 4), 0) << c.text;
    }
  }
  win::u_short port = win::htons(1561);
  unsigned char portBytes[2];
  std::memcpy(portBytes, &port, 2);
  EXPECT_EQ(portBytes[0], 0x06);
  EXPECT_EQ(portBytes[1], 0x19);
  EXPECT_EQ(win::ntohs(port), 1561);
}

}  // namespace
