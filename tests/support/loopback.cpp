#include "tests/support/loopback.h"

#include <chrono>
#include <cstring>

namespace testing_support {

std::string LoopbackAddress(int n) {
  return "127.0.0." + std::to_string(n);
}

win::sockaddr_in MakeAddress(const std::string &ip, unsigned short port) {
  win::sockaddr_in address;
  std::memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_port = win::htons(port);
  address.sin_addr.s_addr = win::inet_addr(ip.c_str());
  return address;
}

WinsockSession::WinsockSession() {
  win::WSADATA data;
  ok_ = win::WSAStartup(0x0101, &data) == 0;
}

WinsockSession::~WinsockSession() {
  if (ok_) win::WSACleanup();
}

Listener::Listener(const std::string &address, int backlog) {
  socket_ = win::socket(AF_INET, SOCK_STREAM, 0);
  if (socket_ == INVALID_SOCKET) return;
  win::sockaddr_in local = MakeAddress(address);
  if (win::bind(socket_, reinterpret_cast<win::sockaddr *>(&local), sizeof local) != 0 ||
      win::listen(socket_, backlog) != 0) {
    win::closesocket(socket_);
    socket_ = INVALID_SOCKET;
  }
}

Listener::~Listener() {
  if (socket_ != INVALID_SOCKET) win::closesocket(socket_);
}

win::SOCKET Listener::Accept(int timeoutMs) {
  if (!WaitReadable(socket_, timeoutMs)) return INVALID_SOCKET;
  return win::accept(socket_, nullptr, nullptr);
}

bool WaitReadable(win::SOCKET s, int timeoutMs) {
  win::fd_set readable;
  win::FdZero(&readable);
  win::FdSet(s, &readable);
  win::timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  return win::select(1, &readable, nullptr, nullptr, &timeout) > 0 && win::FdIsSet(s, &readable);
}

win::SOCKET ConnectTo(const std::string &address, int timeoutMs) {
  win::SOCKET s = win::socket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) return s;
  win::u_long nonBlocking = 1;
  win::ioctlsocket(s, FIONBIO, &nonBlocking);
  win::sockaddr_in peer = MakeAddress(address);
  auto *name = reinterpret_cast<win::sockaddr *>(&peer);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    int rc = win::connect(s, name, sizeof peer);
    int error = rc == 0 ? 0 : win::WSAGetLastError();
    if (rc == 0 || error == WSAEISCONN) return s;
    if (error != WSAEWOULDBLOCK && error != WSAEALREADY && error != WSAEINVAL) break;
    // Writable once the connection is made; the next connect call then confirms it.
    win::fd_set writable;
    win::FdZero(&writable);
    win::FdSet(s, &writable);
    win::timeval pause{0, 20000};
    win::select(1, nullptr, &writable, nullptr, &pause);
  }
  win::closesocket(s);
  return INVALID_SOCKET;
}

}  // namespace testing_support
