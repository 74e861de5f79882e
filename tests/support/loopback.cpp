#include "tests/support/loopback.h"

#include <chrono>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <random>
#include <utility>

namespace testing_support {
namespace {

// Drawn once per process, so that test processes run side by side, and the same test in
// two build trees at once, land on different addresses.
std::uint32_t ProcessSalt() {
  static const std::uint32_t salt = std::random_device{}();
  return salt;
}

std::uint32_t NameHash(const std::string &name) {
  std::uint32_t hash = 2166136261u;  // FNV-1a
  for (unsigned char c : name) hash = (hash ^ c) * 16777619u;
  return hash;
}

// 127.a.b.c with a in 1..254, b in 0..255 and c in 1..254: about 16.5 million addresses,
// none of them in 127.0.0.0/24, where other programs usually listen.
std::string AddressFor(std::uint32_t value) {
  return "127." + std::to_string(1 + value % 254) + "." + std::to_string(value / 254 % 256) + "." +
         std::to_string(1 + value / 254 / 256 % 254);
}

// True when nothing on this machine is bound to address:1561.
bool StationPortFree(const std::string &address) {
  WinsockSession winsock;
  win::SOCKET s = win::socket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) return true;
  win::sockaddr_in local = MakeAddress(address);
  bool free = win::bind(s, reinterpret_cast<win::sockaddr *>(&local), sizeof local) == 0;
  win::closesocket(s);
  return free;
}

}  // namespace

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

std::string LoopbackAddressFor(const std::string &name, int n) {
  static std::mutex mutex;
  static std::map<std::pair<std::string, int>, std::string> chosen;
  std::lock_guard<std::mutex> lock(mutex);
  auto key = std::make_pair(name, n);
  auto found = chosen.find(key);
  if (found != chosen.end()) return found->second;
  // An address that another program holds is passed over, once and for all in this process.
  std::uint32_t value = NameHash(name) ^ ProcessSalt();
  std::string address;
  for (std::uint32_t attempt = 0; attempt < 64; ++attempt) {
    address = AddressFor(value + static_cast<std::uint32_t>(n) + attempt * 7919u);
    if (StationPortFree(address)) break;
  }
  chosen.emplace(key, address);
  return address;
}

}  // namespace testing_support
