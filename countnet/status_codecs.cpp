// A station's status (message type 5), and the status of one sample point.
#include "countnet/codecs.h"
#include "countnet/field_table.h"

namespace countnet {
namespace {

using S = StatusRecord;
using P = PointStatusRecord;

const FieldRule kStatusFields[] = {
    {122, CN_MEMBER(S, statusCode), FieldKind::kFixed, kAdd},
    {123, CN_MEMBER(S, id123Value), FieldKind::kFixed, kAdd},
    {124, CN_MEMBER(S, statusText), FieldKind::kText, kAdd},
    {125, CN_MEMBER(S, id125Value), FieldKind::kFixed, kAdd},
    {126, CN_MEMBER(S, recordCount), FieldKind::kFixed, kAdd},
};

const FieldRule kPointStatusFields[] = {
    {114, CN_MEMBER(P, samplePointId), FieldKind::kFixed, kAdd},
    {124, CN_MEMBER(P, statusText), FieldKind::kText, kAdd},
    {125, CN_MEMBER(P, id125Value), FieldKind::kFixed, kAdd},
    {127, CN_MEMBER(P, id127Value), FieldKind::kFixed, kAdd},
};

const RecordLayout kPointStatusLayout{TableOf(kPointStatusFields), sizeof(P), -1};

}  // namespace
}  // namespace countnet

// The status fields come before any per-point record, so the walk ends at the first 114.
int iStatusGetStatusRecord(void *message, StatusRecord *record) {
  return countnet::DecodeWholeMessage(message, countnet::TableOf(countnet::kStatusFields),
                                      sizeof *record, countnet::WalkEnd::kNextRecord, record);
}

int iStatusAddStatusRecord(void *message, const StatusRecord *record) {
  return countnet::EncodeRecord(message, countnet::TableOf(countnet::kStatusFields), record);
}

int iStatusGetPointStatus(void *message, std::uint16_t samplePointId, PointStatusRecord *record) {
  return countnet::DecodeSelectedRecord(message, samplePointId, false, countnet::kPointStatusLayout,
                                        record);
}

int iStatusAddPointStatus(void *message, const PointStatusRecord *record) {
  return countnet::EncodeRecord(message, countnet::TableOf(countnet::kPointStatusFields), record);
}
