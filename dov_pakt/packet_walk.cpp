// Walking the messages of a packet, allocated or received into a caller's buffer. The
// image may be hostile: every read is checked against the header's total length first.
#include <stddef.h>

#include "contracts/dov_pakt.h"
#include "dov_pakt/little_endian.h"
#include "dov_pakt/registry.h"
#include "dov_pakt/wire_layout.h"

using namespace pakt;

namespace {

// How far the walk may read: the declared total, and for our own objects never past the
// allocation (a caller may have received a longer claim into a shorter packet). 0 when
// the total cannot even cover the header.
uint32_t WalkBound(const uint8_t *packet) {
  int32_t total = LoadI32(packet + kPacketTotalAt);
  if (total < static_cast<int32_t>(kPacketHeaderSize)) return 0;
  uint32_t bound = static_cast<uint32_t>(total);
  uint32_t capacity = CapacityOf(packet, ObjectKind::kPacket);
  if (capacity != 0 && capacity < bound) bound = capacity;
  return bound;
}

// Offset of the message after `previous`, or 0 when `previous` is not a message header
// inside the packet. Offsets are compared as integers: `previous` may point anywhere.
uint32_t OffsetAfter(const uint8_t *packet, const uint8_t *previous, uint32_t bound) {
  uintptr_t start = reinterpret_cast<uintptr_t>(packet);
  uintptr_t at = reinterpret_cast<uintptr_t>(previous);
  if (at < start) return 0;
  uintptr_t distance = at - start;  // no address sums: they could wrap near the top
  if (distance < kPacketHeaderSize || distance > bound - kMessageHeaderSize) return 0;
  uint32_t offset = static_cast<uint32_t>(distance);
  uint32_t length = LoadU16(packet + offset + kMessageLengthAt);
  if (length < kMessageHeaderSize) return 0;
  return offset + length;
}

// A message is handed out only when its header and its whole declared length are
// inside the bound.
bool MessageFits(const uint8_t *packet, uint32_t offset, uint32_t bound) {
  if (offset > bound || bound - offset < kMessageHeaderSize) return false;
  uint32_t length = LoadU16(packet + offset + kMessageLengthAt);
  return length >= kMessageHeaderSize && length <= bound - offset;
}

}  // namespace

extern "C" void *pvPktGetNextMessagePointer(void *packet, void *previous) {
  if (packet == nullptr) return nullptr;
  uint8_t *bytes = static_cast<uint8_t *>(packet);
  uint32_t bound = WalkBound(bytes);
  if (bound == 0) return nullptr;
  uint32_t offset = kPacketHeaderSize;
  if (previous != nullptr) {
    offset = OffsetAfter(bytes, static_cast<const uint8_t *>(previous), bound);
    if (offset == 0) return nullptr;
  }
  return MessageFits(bytes, offset, bound) ? bytes + offset : nullptr;
}
