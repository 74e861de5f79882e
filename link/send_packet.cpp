#include "link/send_packet.h"

#include "contracts/dov_pakt.h"
#include "contracts/host_runtime.h"
#include "link/socket_wait.h"
#include "link/station_address.h"
#include "platform/winapi.h"

namespace {

// A station that cannot take a packet of a few hundred bytes within this time is not
// listening; the rest of the packet is not sent.
constexpr int kSendTimeoutMs = 2000;

// Sends all `length` bytes, waiting for room in the socket's buffer when it is full.
bool SendAll(win::SOCKET s, const char *bytes, int length) {
  Deadline deadline(kSendTimeoutMs);
  int sent = 0;
  while (sent < length) {
    int rc = win::send(s, bytes + sent, length - sent, 0);
    if (rc > 0) {
      sent += rc;
      continue;
    }
    if (rc == SOCKET_ERROR && win::WSAGetLastError() != WSAEWOULDBLOCK) return false;
    if (WaitWritable(s, deadline) != SocketWait::kReady) return false;
  }
  return true;
}

}  // namespace

Outgoing PreparePacket(std::int32_t socket, const char *ipAddress, void *packet) {
  Outgoing out;
  out.socket = socket;
  std::uint32_t address = 0;
  if (!ParseStationAddress(ipAddress, &address)) {
    out.result = SendResult::kInvalidAddress;
    return out;
  }
  if (packet == nullptr) return out;
  // Only the low 16 bits of the length are meaningful: packets are a few hundred bytes.
  out.length = static_cast<std::uint16_t>(dwPktGetPacketLength(packet));
  vPktSetInternetAddress(packet, address, static_cast<std::uint16_t>(socket));
  out.bytes = static_cast<const char *>(packet);
  return out;
}

SendResult TransmitPacket(std::int32_t socket, const char *ipAddress, void *packet) {
  Outgoing out = PreparePacket(socket, ipAddress, packet);
  if (out.bytes == nullptr) return out.result;
  auto s = static_cast<win::SOCKET>(socket);
  return SendAll(s, out.bytes, out.length) ? SendResult::kSent : SendResult::kFailed;
}

namespace {

// Sends what the socket takes now; false when the packet can go no further.
bool SendSome(Outgoing &out) {
  while (out.sent < out.length) {
    int rc = win::send(static_cast<win::SOCKET>(out.socket), out.bytes + out.sent,
                       out.length - out.sent, 0);
    if (rc > 0) {
      out.sent += rc;
      continue;
    }
    return rc == SOCKET_ERROR && win::WSAGetLastError() == WSAEWOULDBLOCK;
  }
  out.result = SendResult::kSent;
  return true;
}

}  // namespace

void TransmitTogether(std::vector<Outgoing> &packets, int windowMs) {
  Deadline deadline(windowMs);
  std::vector<Outgoing *> waiting;
  for (Outgoing &out : packets) {
    if (out.bytes != nullptr && SendSome(out) && out.result != SendResult::kSent) {
      waiting.push_back(&out);
    }
  }
  while (!waiting.empty() && deadline.RemainingMs() > 0) {
    win::fd_set writable;
    win::FdZero(&writable);
    for (Outgoing *out : waiting) win::FdSet(static_cast<win::SOCKET>(out->socket), &writable);
    int ms = deadline.RemainingMs();
    win::timeval timeout{ms / 1000, (ms % 1000) * 1000};
    if (win::select(0, nullptr, &writable, nullptr, &timeout) < 0) return;
    std::vector<Outgoing *> still;
    for (Outgoing *out : waiting) {
      bool ready = win::FdIsSet(static_cast<win::SOCKET>(out->socket), &writable);
      if (!ready || (SendSome(*out) && out->result != SendResult::kSent)) still.push_back(out);
    }
    waiting.swap(still);
  }
}

void LogSendResult(SendResult result, const char *ipAddress) {
  switch (result) {
    case SendResult::kInvalidAddress:
      err(kLogOperational, "DEVADO: SendPacket() Invalid TCP/IP Address '%s'", ipAddress);
      break;
    case SendResult::kFailed:
      err(kLogOperational, "DEVADO: SendPacket() failed");
      break;
    case SendResult::kSent:
      // The packet is binary: the text in the line stays empty.
      err(kLogOperational, "DEVADO: SendPacket(). Packet '%s' sent successfully", "");
      break;
  }
}

int SendPacket(std::int32_t socket, const char *ipAddress, void *packet) {
  SendResult result = TransmitPacket(socket, ipAddress, packet);
  LogSendResult(result, ipAddress);
  return result == SendResult::kSent ? 1 : 0;
}
