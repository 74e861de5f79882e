// Where a CountNet packet begins and ends in the bytes a station sends: the 18-byte
// header (magic, peer address, socket, total length, message count) and a body that
// completes the total length. Pure functions on bytes; receiving them is the link's.
#pragma once

#include <cstddef>
#include <cstdint>

#include "contracts/dov_pakt.h"

constexpr int kPacketHeaderSize = kPaktPacketHeaderSize;
constexpr std::uint32_t kPacketMagic = DOV_PAKT_MAGIC;
// The largest packet the driver takes from a station (and the size of its buffer for one).
constexpr int kPacketBufferSize = 5000;

enum class Frame {
  kComplete,    // a whole packet begins the bytes
  kPartial,     // the bytes are the beginning of a packet
  kWrongMagic,  // the bytes are not at the start of a packet
  kBadLength,   // a total length below the header or beyond kPacketBufferSize
};

// Looks at `available` bytes that should begin a packet. For kComplete, *length is the
// packet's total length.
Frame CheckFrame(const unsigned char *bytes, std::size_t available, std::size_t *length);

// The header's total length and message count of a packet in a buffer.
std::int32_t PacketTotalLength(const unsigned char *packet);
std::uint16_t PacketMessageCount(const unsigned char *packet);
