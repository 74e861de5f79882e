// Reading a message: its type and its fields. A field handle is the offset of the
// field's header within the message, so every call checks the handle against the
// message's own length instead of walking from the first field.
#include "contracts/dov_pakt.h"
#include "dov_pakt/little_endian.h"
#include "dov_pakt/wire_layout.h"

using namespace pakt;

namespace {

// Where the fields end. A length word below the header size leaves no room for any
// field, as every handle is at least the header size.
uint32_t FieldBound(const uint8_t *message) {
  return LoadU16(message + kMessageLengthAt);
}

// A handle is usable when the field's header and all of its data lie inside the message.
bool FieldFits(const uint8_t *message, uint32_t bound, uint32_t field) {
  if (field < kMessageHeaderSize || field > bound || bound - field < kFieldHeaderSize) {
    return false;
  }
  uint32_t length = LoadU16(message + field + kFieldLengthAt);
  return length <= bound - field - kFieldHeaderSize;
}

// The handle after a usable one; it is not checked here.
uint32_t FieldAfter(const uint8_t *message, uint32_t field) {
  return field + kFieldHeaderSize + LoadU16(message + field + kFieldLengthAt);
}

const uint8_t *Bytes(const void *message) {
  return static_cast<const uint8_t *>(message);
}

}  // namespace

extern "C" {

uint16_t wMsgGetMessageType(void *message) {
  return message == nullptr ? 0 : LoadU16(Bytes(message) + kMessageTypeAt);
}

uint16_t wMsgGetFirstField(void *message) {
  if (message == nullptr) return 0;
  return FieldFits(Bytes(message), FieldBound(Bytes(message)), kMessageHeaderSize)
             ? static_cast<uint16_t>(kMessageHeaderSize)
             : 0;
}

uint16_t wMsgGetNextField(void *message, uint16_t field) {
  if (message == nullptr) return 0;
  const uint8_t *bytes = Bytes(message);
  uint32_t bound = FieldBound(bytes);
  if (!FieldFits(bytes, bound, field)) return 0;
  uint32_t next = FieldAfter(bytes, field);
  return FieldFits(bytes, bound, next) ? static_cast<uint16_t>(next) : 0;
}

uint16_t wMsgGetFieldByID(void *message, uint16_t id, uint16_t start) {
  if (message == nullptr) return 0;
  const uint8_t *bytes = Bytes(message);
  uint32_t bound = FieldBound(bytes);
  // Every step moves forward by at least the field header, so the walk ends.
  for (uint32_t field = start; FieldFits(bytes, bound, field); field = FieldAfter(bytes, field)) {
    if (LoadU16(bytes + field + kFieldIdAt) == id) return static_cast<uint16_t>(field);
  }
  return 0;
}

uint16_t wMsgGetFieldID(void *message, uint16_t field) {
  if (message == nullptr || !FieldFits(Bytes(message), FieldBound(Bytes(message)), field)) {
    return 0;
  }
  return LoadU16(Bytes(message) + field + kFieldIdAt);
}

uint16_t wMsgGetFieldLength(void *message, uint16_t field) {
  if (message == nullptr || !FieldFits(Bytes(message), FieldBound(Bytes(message)), field)) {
    return 0;
  }
  return LoadU16(Bytes(message) + field + kFieldLengthAt);
}

void *pvMsgGetField(void *message, uint16_t field) {
  if (message == nullptr || !FieldFits(Bytes(message), FieldBound(Bytes(message)), field) ||
      LoadU16(Bytes(message) + field + kFieldLengthAt) == 0) {
    return nullptr;
  }
  return static_cast<uint8_t *>(message) + field + kFieldHeaderSize;
}

}  // extern "C"
