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

SendResult TransmitPacket(std::int32_t socket, const char *ipAddress, void *packet) {
  std::uint32_t address = 0;
  if (!ParseStationAddress(ipAddress, &address)) return SendResult::kInvalidAddress;
  if (packet == nullptr) return SendResult::kFailed;
  // Only the low 16 bits of the length are meaningful: packets are a few hundred bytes.
  auto length = static_cast<std::uint16_t>(dwPktGetPacketLength(packet));
  vPktSetInternetAddress(packet, address, static_cast<std::uint16_t>(socket));
  auto s = static_cast<win::SOCKET>(socket);
  return SendAll(s, static_cast<const char *>(packet), length) ? SendResult::kSent
                                                               : SendResult::kFailed;
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
