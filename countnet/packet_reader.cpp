#include "countnet/packet_reader.h"

#include <cstring>

#include "link/socket_wait.h"

namespace {

// A packet that has begun arriving must be complete within this time; after that the
// stream can no longer be trusted to be at a packet boundary.
constexpr int kPacketTimeoutMs = 2000;

std::uint32_t LoadLe32(const unsigned char *p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

bool ReceiveExactly(win::SOCKET s, unsigned char *into, int length, const Deadline &deadline) {
  int received = 0;
  while (received < length) {
    int rc = win::recv(s, reinterpret_cast<char *>(into + received), length - received, 0);
    if (rc > 0) {
      received += rc;
      continue;
    }
    if (rc == 0) return false;  // the station closed the connection
    if (win::WSAGetLastError() != WSAEWOULDBLOCK) return false;
    if (WaitReadable(s, deadline) != SocketWait::kReady) return false;
  }
  return true;
}

}  // namespace

std::int32_t PacketTotalLength(const unsigned char *packet) {
  return static_cast<std::int32_t>(LoadLe32(packet + 12));
}

std::uint16_t PacketMessageCount(const unsigned char *packet) {
  return static_cast<std::uint16_t>(packet[16] | packet[17] << 8);
}

PacketRead ReadPacket(win::SOCKET s, unsigned char (&buffer)[kPacketBufferSize]) {
  std::memset(buffer, 0, sizeof buffer);
  Deadline deadline(kPacketTimeoutMs);
  unsigned char header[kPacketHeaderSize];
  if (!ReceiveExactly(s, header, kPacketHeaderSize, deadline)) return PacketRead::kIncomplete;
  if (LoadLe32(header) != kPacketMagic) return PacketRead::kWrongMagic;
  std::int32_t total = PacketTotalLength(header);
  if (total < kPacketHeaderSize || total > kPacketBufferSize) return PacketRead::kBadLength;
  if (!ReceiveExactly(s, buffer + kPacketHeaderSize, total - kPacketHeaderSize, deadline)) {
    return PacketRead::kIncomplete;
  }
  std::memcpy(buffer, header, kPacketHeaderSize);
  return PacketRead::kComplete;
}
