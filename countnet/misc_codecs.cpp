// Fields 123 and 131 on their own, the field-123 record, and sample point texts.
#include "countnet/codecs.h"
#include "countnet/field_table.h"

namespace countnet {
namespace {

using V = Id123Record;
using T = PointTextRecord;

const FieldRule kId123Fields[] = {
    {123, CN_MEMBER(V, id123Value), FieldKind::kFixed, kAdd},
    {160, CN_MEMBER(V, id160Value), FieldKind::kFixed, kOnChange},
    {161, CN_MEMBER(V, id161Value), FieldKind::kFixed, kOnChange},
    {2001, CN_MEMBER(V, id2001Block), FieldKind::kUpTo, kOnChange},
};

const FieldRule kPointTextFields[] = {
    {114, CN_MEMBER(T, samplePointId), FieldKind::kFixed, kAdd},
    {145, CN_MEMBER(T, id146Length), FieldKind::kFixed, kAdd},
    {146, CN_MEMBER(T, id146Text), FieldKind::kText, kAdd},
};

const RecordLayout kPointTextLayout{TableOf(kPointTextFields), sizeof(T), -1};

int GetValue4(void *message, std::uint16_t id, void *value4) {
  std::uint16_t length;
  const void *data = FindFieldData(message, id, &length);
  if (data == nullptr || value4 == nullptr) return kCodecDecodeFailed;
  CopyUpTo(value4, 4, data, length);
  return 0;
}

int AddValue4(void *message, std::uint16_t id, std::uint32_t value) {
  if (message == nullptr) return kCodecBadArgument;
  return iMsgAddField(message, id, sizeof value, &value);
}

}  // namespace
}  // namespace countnet

int iMsgGetId123Value(void *message, void *value4) {
  return countnet::GetValue4(message, kFieldId123Value, value4);
}

int iMsgGetId131Value(void *message, void *value4) {
  return countnet::GetValue4(message, kFieldId131Value, value4);
}

int iMsgAddId123Value(void *message, std::uint32_t value) {
  return countnet::AddValue4(message, kFieldId123Value, value);
}

int iMsgAddId131Value(void *message, std::uint32_t value) {
  return countnet::AddValue4(message, kFieldId131Value, value);
}

int iMsgAddId123Record(void *message, const Id123Record *record) {
  return countnet::EncodeRecord(message, countnet::TableOf(countnet::kId123Fields), record);
}

// These fields are not split into records: the whole message is one.
int iMsgGetId123Record(void *message, Id123Record *record) {
  return countnet::DecodeWholeMessage(message, countnet::TableOf(countnet::kId123Fields),
                                      sizeof *record, countnet::WalkEnd::kMessageEnd, record);
}

int iTextGetPointText(void *message, PointTextRecord *record) {
  if (message == nullptr || record == nullptr) return kCodecBadArgument;
  return countnet::DecodeSelectedRecord(message, 0, true, countnet::kPointTextLayout, record);
}

int iTextAddPointText(void *message, const PointTextRecord *record) {
  return countnet::EncodeRecord(message, countnet::TableOf(countnet::kPointTextFields), record);
}
