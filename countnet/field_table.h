// One description per record serves both directions: an ordered table of the record's
// fields, each naming its field id, the member's offset and width, how the member is
// carried on the message and which add call sends it. Encoders walk the table in order;
// decoders look each received field up in it. Members are reached only as bytes at their
// offsets, as the records are packed.
#pragma once

#include <cstddef>
#include <cstdint>

#include "contracts/dov_pakt.h"
#include "countnet/codecs.h"

namespace countnet {

enum class FieldKind : std::uint8_t {
  kFixed,         // exactly `width` bytes on the message
  kChannelCount,  // one byte that sizes the channel arrays: above 32 is refused
  kSigned16,      // 2 bytes on the message, sign-extended into a 32-bit member
  kArray,         // 32-bit values, as many as the count byte at `countAt` says
  kUpTo,          // up to `width` bytes; `width` bytes are sent
  kText,          // pointer member; the field holds the text and its NUL
  kBlock,         // ByteBlock member: a 16-bit length and a pointer
};

using AddFieldFn = int (*)(void *message, std::uint16_t id, std::uint16_t length, const void *data);

// Which of the two add calls sends a field is part of each encoder's definition.
constexpr AddFieldFn kAdd = &iMsgAddField;
constexpr AddFieldFn kOnChange = &iMsgAddOnChange;

struct FieldRule {
  std::uint16_t id;
  std::uint16_t at;     // offsetof the member
  std::uint16_t width;  // sizeof the member
  FieldKind kind;
  AddFieldFn add;
  std::uint16_t countAt = 0;  // kArray: offsetof the count byte
};

struct FieldTable {
  const FieldRule *rules;
  std::size_t count;
};

template <std::size_t N>
constexpr FieldTable TableOf(const FieldRule (&rules)[N]) {
  return FieldTable{rules, N};
}

// Where a walk ends: at the next field 114 (records of a multi-record message), or only
// at the end of the message.
enum class WalkEnd : std::uint8_t { kNextRecord, kMessageEnd };

// How a decoder by id or position fills its record.
struct RecordLayout {
  FieldTable fields;
  std::size_t size;
  int defaultOneAt;  // offset of the member that is 1 when its field is absent, or -1
};

// Finds the record that `selector` names (its position from 0 when byPosition, else its
// samplePointId), then zero-fills `record`, stores the id and walks the record's fields.
// When no record matches, `record` is left as it was.
int DecodeSelectedRecord(void *message, std::uint16_t selector, bool byPosition,
                         const RecordLayout &layout, void *record);

// Zero-fills `record` and walks the message from its first field.
int DecodeWholeMessage(void *message, const FieldTable &fields, std::size_t size, WalkEnd end,
                       void *record);

// Adds the table's fields in order; the first failure is returned at once.
int EncodeRecord(void *message, const FieldTable &fields, const void *record);

// The data of the first field with `id`, searching from the message's first field, and
// its length; null when the field is absent or has no data.
const void *FindFieldData(void *message, std::uint16_t id, std::uint16_t *length);

// Copies at most `width` bytes of a field into `out`; what the field does not cover is 0.
void CopyUpTo(void *out, std::size_t width, const void *data, std::size_t length);

// The field's data as a C string: null unless its NUL lies inside the field.
const char *TerminatedText(const void *data, std::size_t length);

}  // namespace countnet

// A table entry's offset and width for a member of Record.
#define CN_MEMBER(Record, member)                       \
  static_cast<std::uint16_t>(offsetof(Record, member)), \
      static_cast<std::uint16_t>(sizeof(Record::member))
