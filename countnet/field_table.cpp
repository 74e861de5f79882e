// The generic field walk and encoder behind every record codec. Received messages are not
// trusted: every copy is bounded by both the member's width and the field's own length.
#include "countnet/field_table.h"

#include <algorithm>
#include <cstring>

namespace countnet {
namespace {

using Byte = unsigned char;

// A message is at most 65535 bytes, so a text this long fails in the packet library like
// any other field that does not fit.
constexpr std::size_t kMaxFieldLength = 0xFFFF;

void StorePointer(Byte *member, const void *pointer) {
  std::memcpy(member, &pointer, sizeof pointer);
}

const void *LoadPointer(const Byte *member) {
  const void *pointer;
  std::memcpy(&pointer, member, sizeof pointer);
  return pointer;
}

const FieldRule *FindRule(const FieldTable &fields, std::uint16_t id) {
  const FieldRule *end = fields.rules + fields.count;
  const FieldRule *rule =
      std::find_if(fields.rules, end, [id](const FieldRule &s) { return s.id == id; });
  return rule == end ? nullptr : rule;
}

// The variable-length members. A text may come without data (its member is then null), and
// so may a block: an empty block is how a record with nothing in it is sent. An empty array
// is checked against its count once the whole record is read.
int DecodeVariable(const FieldRule &rule, const void *data, std::uint16_t length, Byte *member) {
  switch (rule.kind) {
    case FieldKind::kText:
      StorePointer(member, TerminatedText(data, length));
      return 0;
    case FieldKind::kBlock:
      std::memcpy(member, &length, sizeof length);
      StorePointer(member + sizeof length, data);
      return 0;
    case FieldKind::kArray:
      CopyUpTo(member, rule.width, data, length);  // an array holds 32 values at most
      return 0;
    default:
      if (data == nullptr) return kCodecDecodeFailed;
      CopyUpTo(member, rule.width, data, length);
      return 0;
  }
}

// The arrays that came without data, by the offset of the count that sizes them. A record
// sends its arrays empty when it has no channels, so only then is an empty array sound.
class EmptyArrays {
 public:
  void Note(const FieldRule &rule, const void *data) {
    if (rule.kind != FieldKind::kArray || data != nullptr || count_ == kMaxNoted) return;
    counts_[count_++] = rule.countAt;
  }

  bool CountsAreZero(const Byte *record) const {
    for (int i = 0; i < count_; ++i) {
      if (record[counts_[i]] != 0) return false;
    }
    return true;
  }

 private:
  static constexpr int kMaxNoted = 8;  // more than any record has arrays
  std::uint16_t counts_[kMaxNoted] = {};
  int count_ = 0;
};

int DecodeField(const FieldRule &rule, void *message, std::uint16_t field, Byte *record,
                EmptyArrays *empty) {
  const void *data = pvMsgGetField(message, field);
  empty->Note(rule, data);
  std::uint16_t length = data == nullptr ? 0 : wMsgGetFieldLength(message, field);
  Byte *member = record + rule.at;
  switch (rule.kind) {
    case FieldKind::kFixed:
      break;
    case FieldKind::kChannelCount:
      if (data != nullptr && *static_cast<const Byte *>(data) > kMaxChannels) {
        return kCodecDecodeFailed;
      }
      break;
    case FieldKind::kSigned16: {
      if (data == nullptr) return kCodecDecodeFailed;
      std::int16_t narrow;
      CopyUpTo(&narrow, sizeof narrow, data, length);
      std::int32_t wide = narrow;
      std::memcpy(member, &wide, sizeof wide);
      return 0;
    }
    default:
      return DecodeVariable(rule, data, length, member);
  }
  if (data == nullptr) return kCodecDecodeFailed;
  CopyUpTo(member, rule.width, data, length);
  return 0;
}

// From `cursor` to the end of the message, or to the next record's field 114.
int WalkFields(void *message, std::uint16_t cursor, const FieldTable &fields, WalkEnd end,
               Byte *record) {
  EmptyArrays empty;
  for (; cursor != 0; cursor = wMsgGetNextField(message, cursor)) {
    std::uint16_t id = wMsgGetFieldID(message, cursor);
    if (end == WalkEnd::kNextRecord && id == kFieldSamplePointId) break;
    const FieldRule *rule = FindRule(fields, id);
    if (rule == nullptr) continue;
    int result = DecodeField(*rule, message, cursor, record, &empty);
    if (result != 0) return result;
  }
  return empty.CountsAreZero(record) ? 0 : kCodecDecodeFailed;
}

// Leaves the cursor on the field after the selected record's 114.
bool FindRecord(void *message, std::uint16_t selector, bool byPosition, std::uint16_t *id,
                std::uint16_t *cursor) {
  std::uint16_t at = wMsgGetFirstField(message);
  for (std::uint32_t position = 0;; ++position) {
    std::uint16_t field = wMsgGetFieldByID(message, kFieldSamplePointId, at);
    const void *data = pvMsgGetField(message, field);
    if (data == nullptr) return false;
    CopyUpTo(id, sizeof *id, data, wMsgGetFieldLength(message, field));
    at = wMsgGetNextField(message, field);
    if ((byPosition ? position : *id) == selector) {
      *cursor = at;
      return true;
    }
  }
}

std::uint16_t SentLength(const FieldRule &rule, const Byte *record, const void **data) {
  const Byte *member = record + rule.at;
  *data = member;
  switch (rule.kind) {
    case FieldKind::kSigned16:
      return 2;  // the member's low half, which comes first
    case FieldKind::kArray:
      return static_cast<std::uint16_t>(std::min<int>(record[rule.countAt], kMaxChannels) * 4);
    case FieldKind::kText:
      *data = LoadPointer(member);
      return static_cast<std::uint16_t>(
          std::min(std::strlen(static_cast<const char *>(*data)) + 1, kMaxFieldLength));
    case FieldKind::kBlock: {
      std::uint16_t length;
      std::memcpy(&length, member, sizeof length);
      *data = LoadPointer(member + sizeof length);
      return length;
    }
    default:
      return rule.width;
  }
}

}  // namespace

void CopyUpTo(void *out, std::size_t width, const void *data, std::size_t length) {
  std::size_t copied = data == nullptr ? 0 : std::min(width, length);
  auto *to = static_cast<Byte *>(out);
  const auto *from = static_cast<const Byte *>(data);
  // Most members are a few bytes wide: a loop beats two library calls for them.
  if (width > 8) {
    if (copied != 0) std::memcpy(to, from, copied);
    std::memset(to + copied, 0, width - copied);
    return;
  }
  for (std::size_t i = 0; i < width; ++i) to[i] = i < copied ? from[i] : 0;
}

const char *TerminatedText(const void *data, std::size_t length) {
  if (data == nullptr || std::memchr(data, 0, length) == nullptr) return nullptr;
  return static_cast<const char *>(data);
}

int DecodeSelectedRecord(void *message, std::uint16_t selector, bool byPosition,
                         const RecordLayout &layout, void *record) {
  std::uint16_t id = 0;
  std::uint16_t cursor = 0;
  if (record == nullptr || !FindRecord(message, selector, byPosition, &id, &cursor)) {
    return kCodecDecodeFailed;
  }
  Byte *bytes = static_cast<Byte *>(record);
  std::memset(bytes, 0, layout.size);
  std::memcpy(bytes, &id, sizeof id);  // samplePointId leads every such record
  // Zero-filled and little-endian: a first byte of 1 makes the member 1 at any width.
  if (layout.defaultOneAt >= 0) bytes[layout.defaultOneAt] = 1;
  return WalkFields(message, cursor, layout.fields, WalkEnd::kNextRecord, bytes);
}

int DecodeWholeMessage(void *message, const FieldTable &fields, std::size_t size, WalkEnd end,
                       void *record) {
  if (message == nullptr || record == nullptr) return kCodecDecodeFailed;
  std::memset(record, 0, size);
  return WalkFields(message, wMsgGetFirstField(message), fields, end, static_cast<Byte *>(record));
}

int EncodeRecord(void *message, const FieldTable &fields, const void *record) {
  if (message == nullptr || record == nullptr) return kCodecBadArgument;
  const Byte *bytes = static_cast<const Byte *>(record);
  for (const FieldRule *rule = fields.rules; rule != fields.rules + fields.count; ++rule) {
    const void *data = nullptr;
    if (rule->kind == FieldKind::kText && LoadPointer(bytes + rule->at) == nullptr) continue;
    std::uint16_t length = SentLength(*rule, bytes, &data);
    int result = rule->add(message, rule->id, length, data);
    if (result != 0) return result;
  }
  return 0;
}

const void *FindFieldData(void *message, std::uint16_t id, std::uint16_t *length) {
  std::uint16_t field = wMsgGetFieldByID(message, id, wMsgGetFirstField(message));
  const void *data = pvMsgGetField(message, field);
  *length = data == nullptr ? 0 : wMsgGetFieldLength(message, field);
  return data;
}

}  // namespace countnet
