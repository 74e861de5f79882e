// Configuration information (message type 3), the get-config request, and record counts.
#include "countnet/codecs.h"
#include "countnet/field_table.h"

namespace countnet {
namespace {

using I = InstrumentInfo;

const FieldRule kInstrumentInfoFields[] = {
    {126, CN_MEMBER(I, recordCount), FieldKind::kFixed, kAdd},
    {164, CN_MEMBER(I, id164Text), FieldKind::kText, kAdd},
    {110, CN_MEMBER(I, instrumentType), FieldKind::kText, kAdd},
    {111, CN_MEMBER(I, instrumentVersion), FieldKind::kText, kAdd},
    {130, CN_MEMBER(I, id130Value), FieldKind::kFixed, kAdd},
    {139, CN_MEMBER(I, id139Value), FieldKind::kFixed, kAdd},
    {140, CN_MEMBER(I, configRequest), FieldKind::kFixed, kAdd},
};

const char *FindText(void *message, std::uint16_t id) {
  std::uint16_t length;
  const void *data = FindFieldData(message, id, &length);
  return TerminatedText(data, length);
}

// A caller reads `width` bytes through the pointer, so a shorter field is not handed out.
void *FindValue(void *message, std::uint16_t id, std::uint16_t width) {
  std::uint16_t length;
  const void *data = FindFieldData(message, id, &length);
  return length < width ? nullptr : const_cast<void *>(data);
}

}  // namespace
}  // namespace countnet

const char *pszCfgGetInstrumentType(void *message) {
  return countnet::FindText(message, kFieldInstrumentType);
}

const char *pszCfgGetInstrumentVersion(void *message) {
  return countnet::FindText(message, kFieldInstrumentVersion);
}

const char *pszCfgGetId164Text(void *message) {
  return countnet::FindText(message, kFieldId164Text);
}

const char *pszCfgGetId141Text(void *message) {
  return countnet::FindText(message, kFieldId141Text);
}

void *pvCfgGetId130Value(void *message) {
  return countnet::FindValue(message, kFieldId130Value, sizeof(InstrumentInfo::id130Value));
}

void *pvCfgGetId139Value(void *message) {
  return countnet::FindValue(message, kFieldId139Value, sizeof(InstrumentInfo::id139Value));
}

std::uint16_t wCfgGetConfigRequest(void *message) {
  std::uint16_t length;
  const void *data = countnet::FindFieldData(message, kFieldConfigRequest, &length);
  if (data == nullptr) return 1;
  std::uint16_t request;
  countnet::CopyUpTo(&request, sizeof request, data, length);
  return request;
}

int iCfgAddGetConfig(void *message, const std::uint16_t *request) {
  if (message == nullptr || request == nullptr) return kCodecBadArgument;
  return iMsgAddField(message, kFieldConfigRequest, sizeof *request, request);
}

int iCfgAddInstrumentInfo(void *message, const InstrumentInfo *info) {
  return countnet::EncodeRecord(message, countnet::TableOf(countnet::kInstrumentInfoFields), info);
}

int iMsgGetRecordCount(void *message, int countRecords) {
  std::uint16_t field = wMsgGetFirstField(message);
  if (field == 0) return kCodecDecodeFailed;
  if (countRecords == 0) return iMsgGetRecordCountField(message);
  int records = 0;
  while ((field = wMsgGetFieldByID(message, kFieldSamplePointId, field)) != 0) {
    ++records;
    field = wMsgGetNextField(message, field);
  }
  return records;
}

int iMsgGetRecordCountField(void *message) {
  if (message == nullptr) return kCodecDecodeFailed;
  std::uint16_t length;
  const void *data = countnet::FindFieldData(message, kFieldRecordCount, &length);
  if (data == nullptr) return kCodecNoRecordCount;
  std::uint16_t count;
  countnet::CopyUpTo(&count, sizeof count, data, length);
  return count;
}

int iMsgAddRecordCount(void *message, std::uint16_t count) {
  if (message == nullptr) return kCodecBadArgument;
  return iMsgAddField(message, kFieldRecordCount, sizeof count, &count);
}
