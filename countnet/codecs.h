// Codecs between CountNet messages (packet library message objects or received message
// images) and the records of codec_records.h. They do no I/O and keep no state.
//
// Decoders walk a message and fill a record: the record is zero-filled first, a member
// takes at most its own width from a field (a shorter field fills only its length), the
// arrays take at most 32 values and field 2001 at most 16 bytes, and a text member points
// at its field only when the text ends with a NUL inside the field (otherwise it stays
// null). A known field without data fails the decoder, except a text (its member stays
// null), a block (length 0) and an array whose count in the record is 0: records with no
// channels, such as the driver's own sampling configuration, send their arrays empty.
// Multi-record messages separate their records with field 114.
//
// Encoders append fields to a message being built, in a fixed order; the first failure
// of the packet library stops them and is returned, and the fields added before it stay.
#pragma once

#include <cstdint>

#include "countnet/codec_records.h"

// Results besides 0 (success) and the packet library's own negative results.
constexpr int kCodecBadArgument = -1000;       // null message or record
constexpr int kCodecNoRecordCount = -1001;     // field 126 missing
constexpr int kCodecDecodeFailed = -1002;      // no such record, empty known field, > 32 channels
constexpr int kCodecNoControlCommand = -2006;  // field 129 missing

// Field ids.
enum FieldId : std::uint16_t {
  kFieldChannelCount = 101,
  kFieldArrayCounts = 102,
  kFieldInstrumentType = 110,
  kFieldInstrumentVersion = 111,
  kFieldSamplePointId = 114,
  kFieldSampleVolume = 116,
  kFieldStatusFlags = 119,
  kFieldChannelCounts = 120,
  kFieldStatusCode = 122,
  kFieldId123Value = 123,
  kFieldStatusText = 124,
  kFieldRecordCount = 126,
  kFieldControlCommand = 129,
  kFieldId130Value = 130,
  kFieldId131Value = 131,
  kFieldId139Value = 139,
  kFieldConfigRequest = 140,
  kFieldId141Text = 141,
  kFieldVolumeExponent = 144,
  kFieldId164Text = 164,
};

// Message types.
enum MessageType : std::uint16_t {
  kMessageDriverEnd = 1,
  kMessageGetConfig = 2,
  kMessageConfigInfo = 3,
  kMessageConnect = 4,
  kMessageStatus = 5,
  kMessageSampleData = 10,
  kMessageSamplePointConfig = 11,
};

// ---- configuration information (type 3) ----
const char *pszCfgGetInstrumentType(void *message);     // field 110, or null
const char *pszCfgGetInstrumentVersion(void *message);  // field 111, or null
const char *pszCfgGetId164Text(void *message);
const char *pszCfgGetId141Text(void *message);
void *pvCfgGetId130Value(void *message);  // pointer to the field's data, or null
void *pvCfgGetId139Value(void *message);
std::uint16_t wCfgGetConfigRequest(void *message);  // field 140; 1 when absent
int iCfgAddGetConfig(void *message, const std::uint16_t *request);
int iCfgAddInstrumentInfo(void *message, const InstrumentInfo *info);

// ---- record counts ----
// With countRecords set: the number of records (fields 114); otherwise the value of field
// 126 (kCodecNoRecordCount when absent). kCodecDecodeFailed for a message without fields.
int iMsgGetRecordCount(void *message, int countRecords);
int iMsgGetRecordCountField(void *message);
int iMsgAddRecordCount(void *message, std::uint16_t count);

// ---- sample data (type 10) ----
// The record chosen by selector: its position (0 for the first) when selectByPosition is
// nonzero, else its samplePointId.
int iDataGetSampleRecord(void *message, std::uint16_t selector, std::uint16_t selectByPosition,
                         SampleRecord *record);
int iDataAddSampleRecord(void *message, const SampleRecord *record);

// ---- status (type 5) ----
int iStatusGetStatusRecord(void *message, StatusRecord *record);
int iStatusAddStatusRecord(void *message, const StatusRecord *record);
int iStatusGetPointStatus(void *message, std::uint16_t samplePointId, PointStatusRecord *record);
int iStatusAddPointStatus(void *message, const PointStatusRecord *record);

// ---- sample point configuration (type 11) and definition ----
int iConfigAddSamplePointConfig(void *message, const SamplePointConfig *config);
int iConfigGetSamplePointConfig(void *message, std::uint16_t samplePointId,
                                SamplePointConfig *config);
int iDefGetSamplePointDefinition(void *message, std::uint16_t selector,
                                 std::uint16_t selectByPosition, SamplePointDefinition *definition);
int iDefAddSamplePointDefinition(void *message, const SamplePointDefinition *definition);

// ---- control ----
// Field 129: the command word, then the argument word.
int iCtrlSetCommand(void *message, std::uint16_t command, std::uint16_t argument);
// The command word (or kCodecNoControlCommand / kCodecBadArgument); command and argument
// are also stored through the pointers that are not null.
int iCtrlGetCommand(void *message, std::uint16_t *command, std::uint16_t *argument);

// ---- fields 123 and 131, point texts ----
int iMsgGetId123Value(void *message, void *value4);  // 0, or kCodecDecodeFailed
int iMsgGetId131Value(void *message, void *value4);
int iMsgAddId123Value(void *message, std::uint32_t value);
int iMsgAddId131Value(void *message, std::uint32_t value);
int iMsgAddId123Record(void *message, const Id123Record *record);
int iMsgGetId123Record(void *message, Id123Record *record);
int iTextGetPointText(void *message, PointTextRecord *record);
int iTextAddPointText(void *message, const PointTextRecord *record);
