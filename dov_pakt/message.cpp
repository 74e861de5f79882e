// Building messages: allocation, type, appending fields, release.
#include <string.h>

#include "contracts/dov_pakt.h"
#include "dov_pakt/little_endian.h"
#include "dov_pakt/registry.h"
#include "dov_pakt/wire_layout.h"

using namespace pakt;

namespace {

void WriteEmptyMessage(uint8_t *message) {
  StoreU16(message + kMessageTypeAt, 0);
  StoreU16(message + kMessageLengthAt, static_cast<uint16_t>(kMessageHeaderSize));
}

int AppendField(void *message, uint16_t id, uint16_t length, const void *data) {
  uint32_t capacity = CapacityOf(message, ObjectKind::kMessage);
  if (capacity == 0 || (data == nullptr && length != 0)) return kPaktErrArgument;
  uint8_t *bytes = static_cast<uint8_t *>(message);
  uint32_t used = LoadU16(bytes + kMessageLengthAt);
  // The length word is in the caller's hands; never append behind a corrupt one.
  if (used < kMessageHeaderSize || used > capacity) return kPaktErrLength;
  if (kFieldHeaderSize + length > capacity - used) return kPaktErrNoRoom;
  uint8_t *field = bytes + used;
  StoreU16(field + kFieldIdAt, id);
  StoreU16(field + kFieldLengthAt, length);
  if (length != 0) memcpy(field + kFieldHeaderSize, data, length);
  StoreU16(bytes + kMessageLengthAt, static_cast<uint16_t>(used + kFieldHeaderSize + length));
  return 0;
}

}  // namespace

extern "C" {

void *pvMsgAllocateMessage(int size) {
  if (size < static_cast<int>(kMessageHeaderSize) || size > static_cast<int>(kMaxMessageSize)) {
    return nullptr;
  }
  uint8_t *message = AllocateObject(ObjectKind::kMessage, static_cast<uint32_t>(size));
  if (message != nullptr) WriteEmptyMessage(message);
  return message;
}

int iMsgClearMessage(void *message) {
  if (CapacityOf(message, ObjectKind::kMessage) == 0) return kPaktErrArgument;
  WriteEmptyMessage(static_cast<uint8_t *>(message));
  return 0;
}

void vMsgSetMessageType(void *message, uint16_t type) {
  if (CapacityOf(message, ObjectKind::kMessage) == 0) return;
  StoreU16(static_cast<uint8_t *>(message) + kMessageTypeAt, type);
}

int iMsgAddField(void *message, uint16_t id, uint16_t length, const void *data) {
  return AppendField(message, id, length, data);
}

// A station that has just reconnected has no earlier values to compare against, so a
// changed-value field is always sent in full, like any other.
int iMsgAddOnChange(void *message, uint16_t id, uint16_t length, const void *data) {
  return AppendField(message, id, length, data);
}

int iMsgFreeMessage(void *message) {
  return FreeObject(message, ObjectKind::kMessage) ? 0 : kPaktErrArgument;
}

}  // extern "C"
