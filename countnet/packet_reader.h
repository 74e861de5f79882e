// Reads one whole CountNet packet from a station socket into a caller's buffer.
#pragma once

#include <cstdint>

#include "platform/winapi.h"

constexpr int kPacketBufferSize = 5000;
constexpr int kPacketHeaderSize = 18;
constexpr std::uint32_t kPacketMagic = 0xDEADBEEF;

enum class PacketRead {
  kComplete,    // the buffer holds the packet as the station sent it
  kIncomplete,  // closed, reset, failed or stalled before the packet was whole
  kWrongMagic,  // the stream is not at the start of a packet
  kBadLength,   // a total length below the header or beyond the buffer
};

// Collects the 18-byte header and then the body across short receives, waiting for each
// missing piece up to about 2 s in all. Nothing is received past the buffer's end.
PacketRead ReadPacket(win::SOCKET s, unsigned char (&buffer)[kPacketBufferSize]);

// The header's total length and message count of a packet in a buffer.
std::int32_t PacketTotalLength(const unsigned char *packet);
std::uint16_t PacketMessageCount(const unsigned char *packet);
