// Helpers for the packet library tests: hand-made wire images in buffers of exactly
// their length (so that AddressSanitizer reports any read past them), and a decoder
// that walks a packet through the public calls only.
#pragma once

#include <stdint.h>
#include <string.h>

#include <memory>
#include <ostream>
#include <vector>

#include "contracts/dov_pakt.h"

namespace pakt_test {

using Bytes = std::vector<uint8_t>;

// Appends little-endian values to a byte vector: images are spelled out field by field.
class Image {
 public:
  Image &U8(uint8_t v) {
    bytes_.push_back(v);
    return *this;
  }
  Image &U16(uint16_t v) { return U8(static_cast<uint8_t>(v)).U8(static_cast<uint8_t>(v >> 8)); }
  Image &U32(uint32_t v) {
    return U16(static_cast<uint16_t>(v)).U16(static_cast<uint16_t>(v >> 16));
  }
  Image &I32(int32_t v) { return U32(static_cast<uint32_t>(v)); }
  Image &Raw(const Bytes &more) {
    bytes_.insert(bytes_.end(), more.begin(), more.end());
    return *this;
  }
  // Magic, zero library bytes, the given total and count.
  Image &PacketHeader(int32_t total, uint16_t count) {
    return U32(DOV_PAKT_MAGIC).U32(0).U32(0).I32(total).U16(count);
  }
  Image &MessageHeader(uint16_t type, uint16_t length) { return U16(type).U16(length); }
  Image &Field(uint16_t id, const Bytes &data) {
    return U16(id).U16(static_cast<uint16_t>(data.size())).Raw(data);
  }
  const Bytes &bytes() const { return bytes_; }

 private:
  Bytes bytes_;
};

// A heap copy of an image, exactly as long as the image.
class ExactBuffer {
 public:
  explicit ExactBuffer(const Bytes &image) : size_(image.size()), data_(new uint8_t[image.size()]) {
    if (size_ != 0) memcpy(data_.get(), image.data(), size_);
  }
  uint8_t *data() { return data_.get(); }
  size_t size() const { return size_; }

 private:
  size_t size_;
  std::unique_ptr<uint8_t[]> data_;
};

struct Field {
  uint16_t id;
  Bytes data;
  bool operator==(const Field &o) const { return id == o.id && data == o.data; }
};

struct Message {
  uint16_t type;
  std::vector<Field> fields;
  bool operator==(const Message &o) const { return type == o.type && fields == o.fields; }
};

inline std::ostream &operator<<(std::ostream &os, const Field &f) {
  os << "{id " << f.id << ", " << f.data.size() << " bytes:";
  for (uint8_t b : f.data) os << ' ' << static_cast<int>(b);
  return os << '}';
}

inline std::ostream &operator<<(std::ostream &os, const Message &m) {
  os << "{type " << m.type << ',';
  for (const Field &f : m.fields) os << ' ' << f;
  return os << '}';
}

// Fields as the first/next walk sees them.
inline std::vector<Field> DecodeFields(void *message) {
  std::vector<Field> fields;
  for (uint16_t h = wMsgGetFirstField(message); h != 0; h = wMsgGetNextField(message, h)) {
    uint16_t length = wMsgGetFieldLength(message, h);
    const uint8_t *data = static_cast<const uint8_t *>(pvMsgGetField(message, h));
    fields.push_back(Field{wMsgGetFieldID(message, h), Bytes(data, data + (data ? length : 0))});
  }
  return fields;
}

// Messages as the packet walk sees them.
inline std::vector<Message> DecodePacket(void *packet) {
  std::vector<Message> messages;
  for (void *m = pvPktGetNextMessagePointer(packet, nullptr); m != nullptr;
       m = pvPktGetNextMessagePointer(packet, m)) {
    messages.push_back(Message{wMsgGetMessageType(m), DecodeFields(m)});
  }
  return messages;
}

// Builds an allocated message from a description; null if any call failed.
inline void *BuildMessage(const Message &description) {
  size_t size = 4;
  for (const Field &f : description.fields) size += 4 + f.data.size();
  void *message = pvMsgAllocateMessage(static_cast<int>(size));
  if (message == nullptr) return nullptr;
  vMsgSetMessageType(message, description.type);
  for (const Field &f : description.fields) {
    if (iMsgAddField(message, f.id, static_cast<uint16_t>(f.data.size()), f.data.data()) != 0) {
      iMsgFreeMessage(message);
      return nullptr;
    }
  }
  return message;
}

}  // namespace pakt_test
