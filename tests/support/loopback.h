// Loopback sockets for tests, on the platform layer so that the same tests run on Linux
// and under Wine. Every test uses a loopback address of its own on the station port, so
// that tests never collide.
#pragma once

#include <string>

#include "platform/winapi.h"

namespace testing_support {

constexpr unsigned short kStationPort = 1561;

// A loopback address on which nothing listens yet: 127.a.b.c with a >= 1, drawn from
// `name` and a number drawn once per process, so that processes run side by side never
// share one. The same name and `n` give the same address throughout the process.
std::string LoopbackAddressFor(const std::string &name, int n = 0);

// The running test's own loopback address (LoopbackAddressFor its full name); `n` gives
// further addresses for the same test.
std::string TestAddress(int n = 0);

win::sockaddr_in MakeAddress(const std::string &ip, unsigned short port = kStationPort);

// Starts and ends Windows Sockets around a scope.
class WinsockSession {
 public:
  WinsockSession();
  ~WinsockSession();
  bool ok() const { return ok_; }

 private:
  bool ok_ = false;
};

// A listening socket on address:1561.
class Listener {
 public:
  explicit Listener(const std::string &address, int backlog = 8);
  ~Listener();
  Listener(const Listener &) = delete;
  Listener &operator=(const Listener &) = delete;

  bool ok() const { return socket_ != INVALID_SOCKET; }
  // The next connection, or INVALID_SOCKET when none arrives within timeoutMs.
  win::SOCKET Accept(int timeoutMs);

 private:
  win::SOCKET socket_ = INVALID_SOCKET;
};

// True when `s` becomes readable within timeoutMs.
bool WaitReadable(win::SOCKET s, int timeoutMs);

// A blocking-style connect for tests: non-blocking connect, then waits for completion
// by repeating connect until it reports success or a final error, up to timeoutMs.
win::SOCKET ConnectTo(const std::string &address, int timeoutMs);

}  // namespace testing_support
