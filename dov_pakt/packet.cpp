// Building packets: allocation, header upkeep, appending messages, release.
#include <string.h>

#include "contracts/dov_pakt.h"
#include "dov_pakt/little_endian.h"
#include "dov_pakt/registry.h"
#include "dov_pakt/wire_layout.h"

using namespace pakt;

namespace {

void WriteEmptyHeader(uint8_t *packet) {
  memset(packet, 0, kPacketHeaderSize);
  StoreU32(packet + kPacketMagicAt, kMagic);
  StoreI32(packet + kPacketTotalAt, static_cast<int32_t>(kPacketHeaderSize));
}

// The caller holds the wire image and can overwrite the total; a total outside the
// object would make the next append write out of bounds.
bool TotalIsSane(uint32_t total, uint32_t capacity) {
  return total >= kPacketHeaderSize && total <= capacity;
}

// Same reasoning for a message's own length word.
bool MessageLengthIsSane(uint32_t length, uint32_t capacity) {
  return length >= kMessageHeaderSize && length <= capacity;
}

}  // namespace

extern "C" {

void *pvPktAllocatePacket(int size) {
  if (size < static_cast<int>(kPacketHeaderSize) || size > static_cast<int>(kMaxPacketSize)) {
    return nullptr;
  }
  uint8_t *packet = AllocateObject(ObjectKind::kPacket, static_cast<uint32_t>(size));
  if (packet != nullptr) WriteEmptyHeader(packet);
  return packet;
}

int iPktClearPacket(void *packet) {
  if (CapacityOf(packet, ObjectKind::kPacket) == 0) return kPaktErrArgument;
  WriteEmptyHeader(static_cast<uint8_t *>(packet));
  return 0;
}

int iPktAddMessage(void *packet, void *message) {
  uint32_t packetCapacity = CapacityOf(packet, ObjectKind::kPacket);
  uint32_t messageCapacity = CapacityOf(message, ObjectKind::kMessage);
  if (packetCapacity == 0 || messageCapacity == 0) return kPaktErrArgument;
  uint8_t *bytes = static_cast<uint8_t *>(packet);
  const uint8_t *source = static_cast<const uint8_t *>(message);
  uint32_t total = LoadU32(bytes + kPacketTotalAt);
  uint32_t length = LoadU16(source + kMessageLengthAt);
  uint16_t count = LoadU16(bytes + kPacketCountAt);
  if (!TotalIsSane(total, packetCapacity) || !MessageLengthIsSane(length, messageCapacity)) {
    return kPaktErrLength;
  }
  if (count == kMaxMessageCount) return kPaktErrLength;
  if (length > packetCapacity - total) return kPaktErrNoRoom;
  memcpy(bytes + total, source, length);
  StoreI32(bytes + kPacketTotalAt, static_cast<int32_t>(total + length));
  StoreU16(bytes + kPacketCountAt, static_cast<uint16_t>(count + 1));
  return 0;
}

uint32_t dwPktGetPacketLength(void *packet) {
  if (packet == nullptr) return 0;
  return LoadU32(static_cast<const uint8_t *>(packet) + kPacketTotalAt);
}

void vPktSetInternetAddress(void *packet, uint32_t address, uint16_t socket) {
  if (CapacityOf(packet, ObjectKind::kPacket) == 0) return;
  uint8_t *bytes = static_cast<uint8_t *>(packet);
  StoreU32(bytes + kPacketAddressAt, address);
  StoreU16(bytes + kPacketSocketAt, socket);
  StoreU16(bytes + kPacketReservedAt, 0);
}

int iPktFreePacket(void *packet) {
  return FreeObject(packet, ObjectKind::kPacket) ? 0 : kPaktErrArgument;
}

}  // extern "C"
