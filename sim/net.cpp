#include "sim/net.h"

#include <chrono>
#include <cstring>

namespace sim::net {
namespace {

constexpr int kShutdownSend = 1;  // SD_SEND
// Enough to empty the socket's receive buffer on close, bounded for a peer that floods.
constexpr int kMaxDrainBytes = 1 << 20;

win::sockaddr_in Endpoint(const std::string &address, unsigned short port) {
  win::sockaddr_in endpoint;
  std::memset(&endpoint, 0, sizeof endpoint);
  endpoint.sin_family = AF_INET;
  endpoint.sin_port = win::htons(port);
  endpoint.sin_addr.s_addr = win::inet_addr(address.c_str());
  return endpoint;
}

}  // namespace

win::SOCKET Listen(const std::string &address, unsigned short port, int backlog, int *errorCode) {
  win::SOCKET s = win::socket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) {
    *errorCode = win::WSAGetLastError();
    return s;
  }
  win::sockaddr_in local = Endpoint(address, port);
  if (win::bind(s, reinterpret_cast<win::sockaddr *>(&local), sizeof local) != 0 ||
      win::listen(s, backlog) != 0 || !SetNonBlocking(s)) {
    *errorCode = win::WSAGetLastError();
    win::closesocket(s);
    return INVALID_SOCKET;
  }
  return s;
}

bool AddressFree(const std::string &address, unsigned short port, int *errorCode) {
  win::SOCKET s = win::socket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) {
    *errorCode = win::WSAGetLastError();
    return false;
  }
  win::sockaddr_in local = Endpoint(address, port);
  bool free = win::bind(s, reinterpret_cast<win::sockaddr *>(&local), sizeof local) == 0;
  if (!free) *errorCode = win::WSAGetLastError();
  win::closesocket(s);
  return free;
}

win::SOCKET ConnectWithin(const std::string &address, unsigned short port, int timeoutMs) {
  win::SOCKET s = win::socket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET || !SetNonBlocking(s)) return s;
  win::sockaddr_in peer = Endpoint(address, port);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  // A repeated connect reports the state of the first one, on Linux and Windows alike.
  do {
    int rc = win::connect(s, reinterpret_cast<win::sockaddr *>(&peer), sizeof peer);
    int error = rc == 0 ? 0 : win::WSAGetLastError();
    if (rc == 0 || error == WSAEISCONN) return s;
    if (error != WSAEWOULDBLOCK && error != WSAEALREADY && error != WSAEINVAL) {
      win::closesocket(s);
      return INVALID_SOCKET;
    }
    win::Sleep(5);
  } while (std::chrono::steady_clock::now() < deadline);
  return s;
}

bool SetNonBlocking(win::SOCKET s) {
  win::u_long on = 1;
  return win::ioctlsocket(s, FIONBIO, &on) == 0;
}

bool WaitWritable(win::SOCKET s, int timeoutMs) {
  win::fd_set writable;
  win::FdZero(&writable);
  win::FdSet(s, &writable);
  win::timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  return win::select(0, nullptr, &writable, nullptr, &timeout) > 0;
}

std::string PeerText(const win::sockaddr_in &peer) {
  auto address = static_cast<std::uint32_t>(win::ntohl(peer.sin_addr.s_addr));
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8) {
    text += std::to_string((address >> shift) & 0xFF) + (shift == 0 ? ":" : ".");
  }
  return text + std::to_string(win::ntohs(peer.sin_port));
}

void CloseOrderly(win::SOCKET s) {
  win::shutdown(s, kShutdownSend);
  char sink[4096];
  for (int drained = 0; drained < kMaxDrainBytes;) {
    int n = win::recv(s, sink, sizeof sink, 0);
    if (n <= 0) break;
    drained += n;
  }
  win::closesocket(s);
}

void CloseWithReset(win::SOCKET s) {
  win::linger abortive;
  abortive.l_onoff = 1;
  abortive.l_linger = 0;
  win::setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&abortive),
                  sizeof abortive);
  win::closesocket(s);
}

}  // namespace sim::net
