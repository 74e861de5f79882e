// Fuzz target: an arbitrary received packet image is walked message by message and
// field by field, both in a caller's buffer and after receiving it into an allocated
// packet; every message found is rebuilt through the library and must read back the
// same. Any read outside the image is a sanitizer report; a mismatch aborts.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <vector>

#include "contracts/dov_pakt.h"

namespace {

int32_t DeclaredTotal(const uint8_t *data) {
  return static_cast<int32_t>(static_cast<uint32_t>(data[12]) | data[13] << 8 | data[14] << 16 |
                              static_cast<uint32_t>(data[15]) << 24);
}

void Check(bool condition) {
  if (!condition) abort();
}

// Reads every data byte so that an out-of-bounds field is touched.
unsigned TouchField(void *message, uint16_t field) {
  const uint8_t *data = static_cast<const uint8_t *>(pvMsgGetField(message, field));
  uint16_t length = wMsgGetFieldLength(message, field);
  Check((data == nullptr) == (length == 0));
  unsigned sum = 0;
  for (uint16_t i = 0; data != nullptr && i < length; ++i) sum += data[i];
  return sum;
}

// Copies the message's fields into a new allocated message and checks that it reads
// back the same type and fields; also looks each field up by id.
void RebuildAndCompare(void *message) {
  void *copy = pvMsgAllocateMessage(0xFFFF);
  Check(copy != nullptr);
  vMsgSetMessageType(copy, wMsgGetMessageType(message));
  for (uint16_t h = wMsgGetFirstField(message); h != 0; h = wMsgGetNextField(message, h)) {
    TouchField(message, h);
    uint16_t id = wMsgGetFieldID(message, h);
    uint16_t found = wMsgGetFieldByID(message, id, wMsgGetFirstField(message));
    Check(found != 0 && found <= h && wMsgGetFieldID(message, found) == id);
    Check(iMsgAddOnChange(copy, id, wMsgGetFieldLength(message, h), pvMsgGetField(message, h)) ==
          0);
  }
  Check(wMsgGetMessageType(copy) == wMsgGetMessageType(message));
  uint16_t a = wMsgGetFirstField(message);
  uint16_t b = wMsgGetFirstField(copy);
  for (; a != 0 && b != 0; a = wMsgGetNextField(message, a), b = wMsgGetNextField(copy, b)) {
    uint16_t length = wMsgGetFieldLength(message, a);
    Check(a == b && wMsgGetFieldID(message, a) == wMsgGetFieldID(copy, b));
    Check(length == wMsgGetFieldLength(copy, b));
    Check(length == 0 || memcmp(pvMsgGetField(message, a), pvMsgGetField(copy, b), length) == 0);
  }
  Check(a == 0 && b == 0);
  Check(iMsgFreeMessage(copy) == 0);
}

// Walks the packet; `readable` is how many bytes the buffer really has.
void Walk(uint8_t *packet, size_t readable) {
  for (void *m = pvPktGetNextMessagePointer(packet, nullptr); m != nullptr;
       m = pvPktGetNextMessagePointer(packet, m)) {
    uint8_t *at = static_cast<uint8_t *>(m);
    Check(at >= packet + 18 && at + 4 <= packet + readable);
    RebuildAndCompare(m);
    // Handles taken from the image itself: arbitrary, but never read out of bounds.
    uint16_t arbitrary = static_cast<uint16_t>(at[0] | at[1] << 8);
    wMsgGetNextField(m, arbitrary);
    wMsgGetFieldByID(m, arbitrary, arbitrary);
    TouchField(m, arbitrary);
  }
  // Any position, as a previous message pointer, is either refused or leads to a
  // message inside the buffer.
  for (size_t offset = 0; offset < readable && offset < 512; ++offset) {
    void *next = pvPktGetNextMessagePointer(packet, packet + offset);
    uint8_t *at = static_cast<uint8_t *>(next);
    Check(next == nullptr || (at > packet + offset && at + 4 <= packet + readable));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 18) return 0;
  // A receiver reads the header, then as many bytes as the total claims: the buffer
  // holds exactly that (just the header when the total is below it). A claim beyond the
  // input is not a buffer that a receiver could have filled.
  int32_t total = DeclaredTotal(data);
  size_t held = total < 18 ? 18 : static_cast<size_t>(total);
  if (held <= size) {
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[held]);
    memcpy(buffer.get(), data, held);
    Walk(buffer.get(), held);
  }
  // Received into an allocated packet, the claim may be anything: the capacity bounds it.
  if (size <= (1u << 20)) {
    uint8_t *packet = static_cast<uint8_t *>(pvPktAllocatePacket(static_cast<int>(size)));
    Check(packet != nullptr);
    memcpy(packet, data, size);
    Walk(packet, size);
    Check(dwPktGetPacketLength(packet) == static_cast<uint32_t>(total));
    Check(iPktFreePacket(packet) == 0);
  }
  return 0;
}
