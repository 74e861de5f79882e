// Offsets and limits of the wire images (docs/wire-format.md draws them).
#pragma once

#include <stdint.h>

#include "contracts/dov_pakt.h"

namespace pakt {

constexpr uint32_t kMagic = DOV_PAKT_MAGIC;

// Packet header.
constexpr uint32_t kPacketMagicAt = 0;
constexpr uint32_t kPacketAddressAt = 4;
constexpr uint32_t kPacketSocketAt = 8;
constexpr uint32_t kPacketReservedAt = 10;
constexpr uint32_t kPacketTotalAt = 12;
constexpr uint32_t kPacketCountAt = 16;
constexpr uint32_t kPacketHeaderSize = kPaktPacketHeaderSize;

// Message header.
constexpr uint32_t kMessageTypeAt = 0;
constexpr uint32_t kMessageLengthAt = 2;
constexpr uint32_t kMessageHeaderSize = 4;

// Field header; the data follows it.
constexpr uint32_t kFieldIdAt = 0;
constexpr uint32_t kFieldLengthAt = 2;
constexpr uint32_t kFieldHeaderSize = 4;

// 1 MiB is far above any packet a station sends and keeps a bad size from asking for a
// huge buffer; a message and the message count have to fit their uint16 words.
constexpr uint32_t kMaxPacketSize = 1u << 20;
constexpr uint32_t kMaxMessageSize = 0xFFFFu;
constexpr uint32_t kMaxMessageCount = 0xFFFFu;

}  // namespace pakt
