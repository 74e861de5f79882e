// Sample data (message type 10): one record per sample point, each led by field 114.
#include "countnet/codecs.h"
#include "countnet/field_table.h"

namespace countnet {
namespace {

using R = SampleRecord;

// In wire order; 114 and the text go with the plain add call, the values on change.
const FieldRule kSampleFields[] = {
    {114, CN_MEMBER(R, samplePointId), FieldKind::kFixed, kAdd},
    {115, CN_MEMBER(R, id115Value), FieldKind::kSigned16, kOnChange},
    {101, CN_MEMBER(R, channelCount), FieldKind::kChannelCount, kOnChange},
    {153, CN_MEMBER(R, id153Text), FieldKind::kText, kAdd},
    {127, CN_MEMBER(R, id127Value), FieldKind::kFixed, kOnChange},
    {116, CN_MEMBER(R, sampleVolume), FieldKind::kFixed, kOnChange},
    {144, CN_MEMBER(R, volumeExponent), FieldKind::kFixed, kOnChange},
    {117, CN_MEMBER(R, id117Value), FieldKind::kFixed, kOnChange},
    {118, CN_MEMBER(R, id118Value), FieldKind::kFixed, kOnChange},
    {106, CN_MEMBER(R, id106Value), FieldKind::kFixed, kOnChange},
    {162, CN_MEMBER(R, id162Value), FieldKind::kFixed, kOnChange},
    {119, CN_MEMBER(R, statusFlags), FieldKind::kFixed, kOnChange},
    {121, CN_MEMBER(R, id121Value), FieldKind::kFixed, kOnChange},
    {120, CN_MEMBER(R, channelCounts), FieldKind::kArray, kOnChange, offsetof(R, channelCount)},
};

const RecordLayout kSampleLayout{TableOf(kSampleFields), sizeof(R), offsetof(R, id115Value)};

}  // namespace
}  // namespace countnet

int iDataGetSampleRecord(void *message, std::uint16_t selector, std::uint16_t selectByPosition,
                         SampleRecord *record) {
  return countnet::DecodeSelectedRecord(message, selector, selectByPosition != 0,
                                        countnet::kSampleLayout, record);
}

int iDataAddSampleRecord(void *message, const SampleRecord *record) {
  return countnet::EncodeRecord(message, countnet::TableOf(countnet::kSampleFields), record);
}
