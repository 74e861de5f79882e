#include "countnet/packet_frame.h"

namespace {

constexpr int kTotalLengthAt = 12;
constexpr int kMessageCountAt = 16;

std::uint32_t LoadLe32(const unsigned char *p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace

std::int32_t PacketTotalLength(const unsigned char *packet) {
  return static_cast<std::int32_t>(LoadLe32(packet + kTotalLengthAt));
}

std::uint16_t PacketMessageCount(const unsigned char *packet) {
  return static_cast<std::uint16_t>(packet[kMessageCountAt] | packet[kMessageCountAt + 1] << 8);
}

Frame CheckFrame(const unsigned char *bytes, std::size_t available, std::size_t *length) {
  // The magic is judged as soon as its four bytes are there.
  if (available >= 4 && LoadLe32(bytes) != kPacketMagic) return Frame::kWrongMagic;
  if (available < static_cast<std::size_t>(kPacketHeaderSize)) return Frame::kPartial;
  std::int32_t total = PacketTotalLength(bytes);
  if (total < kPacketHeaderSize || total > kPacketBufferSize) return Frame::kBadLength;
  if (available < static_cast<std::size_t>(total)) return Frame::kPartial;
  *length = static_cast<std::size_t>(total);
  return Frame::kComplete;
}
