// The records that CountNet messages are decoded into and encoded from. Each record is
// packed exactly as the instrument's message set defines it, so members sit at odd
// offsets: they are Unaligned<> bytes with accessors, and the codecs copy field data into
// them by offset and width. Text members point into the message's own field data and are
// valid only as long as that message.
#pragma once

#include <cstddef>
#include <cstdint>

#include "contracts/packed_field.h"

constexpr int kMaxChannels = 32;  // every array member has room for 32 values
constexpr int kId2001BlockSize = 16;

using U8 = std::uint8_t;
using U16 = Unaligned<std::uint16_t>;
using I16 = Unaligned<std::int16_t>;
using U32 = Unaligned<std::uint32_t>;
using I32 = Unaligned<std::int32_t>;
using Text = Unaligned<const char *>;
using ValueArray = Unaligned<std::uint32_t>[kMaxChannels];

// An opaque byte block (field 113): its length and where its bytes are.
struct ByteBlock {
  U16 length;
  Unaligned<const void *> data;
};
static_assert(sizeof(ByteBlock) == 6);

// One sample of a sample point (message type 10).
//
// Field 115 carries 2 bytes; they are read as a signed 16-bit value and sign-extended, so
// that every value an encoder can send (the low 16 bits of the member) comes back
// unchanged for -32768..32767. The same holds for field 151 of SamplePointDefinition.
struct SampleRecord {
  U16 samplePointId;                // 114
  Text id153Text;                   // 153
  U8 id127Value;                    // 127
  I32 id115Value;                   // 115, 1 when absent
  U8 channelCount;                  // 101, 0..32
  I32 sampleVolume;                 // 116, scaled by 10^volumeExponent
  I16 volumeExponent;               // 144
  U32 id117Value;                   // 117
  U8 id118Value[5];                 // 118
  U32 id106Value;                   // 106
  U32 id162Value;                   // 162
  U8 statusFlags;                   // 119, see kStatus* below
  U16 id121Value;                   // 121
  I32 channelCounts[kMaxChannels];  // 120, cumulative particle counts per channel
};
static_assert(offsetof(SampleRecord, id153Text) == 2);
static_assert(offsetof(SampleRecord, id115Value) == 7);
static_assert(offsetof(SampleRecord, channelCount) == 11);
static_assert(offsetof(SampleRecord, sampleVolume) == 12);
static_assert(offsetof(SampleRecord, volumeExponent) == 16);
static_assert(offsetof(SampleRecord, id118Value) == 22);
static_assert(offsetof(SampleRecord, statusFlags) == 35);
static_assert(offsetof(SampleRecord, channelCounts) == 38);
static_assert(sizeof(SampleRecord) == 166);

// statusFlags bits.
constexpr std::uint8_t kStatusLaserOk = 0x01;
constexpr std::uint8_t kStatusFlowOk = 0x02;
constexpr std::uint8_t kStatusLaserReported = 0x04;
constexpr std::uint8_t kStatusFlowReported = 0x08;

// A station's status (message type 5).
struct StatusRecord {
  U16 statusCode;   // 122
  U16 unused2;      // no field fills it
  U32 id123Value;   // 123
  U32 id125Value;   // 125
  Text statusText;  // 124
  U16 recordCount;  // 126
};
static_assert(offsetof(StatusRecord, statusText) == 12);
static_assert(sizeof(StatusRecord) == 18);

// How a sample point samples (message type 11, sent by the driver).
struct SamplePointConfig {
  U16 samplePointId;  // 114
  U8 channelCount;    // 101
  ValueArray id143Array;
  ValueArray id103Array;
  U32 id106Value;  // update rate in seconds x 100
  U32 id107Value;  // update rate in seconds x 500
  U32 id154Value;
  U32 sampleVolume;  // 116
  U32 id158Value;
  U32 id155Value;
  U32 id156Value;
  U32 id157Value;
  U16 id128Value;
  U32 id142Value;
  U32 id132Value;
  U32 id133Value;
  U32 id136Value;
  U32 id137Value;
  U32 id159Value;
  U8 id134Value;
  U32 id138Value;
  U16 id135Value;  // 1 when absent
  ByteBlock id113Block;
  U8 id147Value;
  U8 id148Value;
  U8 id149Value;
  U8 id150Value;
};
static_assert(offsetof(SamplePointConfig, id143Array) == 3);
static_assert(offsetof(SamplePointConfig, id103Array) == 131);
static_assert(offsetof(SamplePointConfig, id106Value) == 259);
static_assert(offsetof(SamplePointConfig, id128Value) == 291);
static_assert(offsetof(SamplePointConfig, id134Value) == 317);
static_assert(offsetof(SamplePointConfig, id135Value) == 322);
static_assert(offsetof(SamplePointConfig, id113Block) == 324);
static_assert(offsetof(SamplePointConfig, id147Value) == 330);
static_assert(sizeof(SamplePointConfig) == 334);

// The full definition of a sample point.
struct SamplePointDefinition {
  U16 samplePointId;  // 114
  U16 id163Value;
  U8 channelCount;    // 101
  U8 arrayCounts[2];  // 102: count of the 143/103 arrays, count of the 104/105 arrays
  ValueArray id143Array;
  ValueArray id103Array;
  ValueArray id104Array;
  ValueArray id105Array;
  U32 id106Value;
  U32 id107Value;
  U32 id108Value[2];
  U32 id154Value;
  U32 id109Value[2];
  Text instrumentType;     // 110
  Text instrumentVersion;  // 111
  Text id141Text;
  I32 id151Value;  // 2 bytes on the message, sign-extended
  U32 sampleVolume;
  U32 id158Value;
  U32 id155Value;
  U32 id156Value;
  U32 id157Value;
  U16 id128Value;
  U32 id142Value;
  U32 id132Value;
  U32 id133Value;
  U32 id136Value;
  U32 id137Value;
  U32 id159Value;
  U8 id134Value;
  U32 id138Value;
  U16 id135Value;  // 1 when absent
  U8 id112Value;
  ByteBlock id113Block;
  U32 id152Value;
  U8 id147Value;
  U8 id148Value;
  U8 id149Value;
  U8 id150Value;
};
static_assert(offsetof(SamplePointDefinition, id143Array) == 7);
static_assert(offsetof(SamplePointDefinition, id106Value) == 519);
static_assert(offsetof(SamplePointDefinition, instrumentType) == 547);
static_assert(offsetof(SamplePointDefinition, id151Value) == 559);
static_assert(offsetof(SamplePointDefinition, id128Value) == 583);
static_assert(offsetof(SamplePointDefinition, id134Value) == 609);
static_assert(offsetof(SamplePointDefinition, id113Block) == 617);
static_assert(offsetof(SamplePointDefinition, id152Value) == 623);
static_assert(sizeof(SamplePointDefinition) == 631);

// The instrument's identity (configuration-information message, type 3).
struct InstrumentInfo {
  U16 recordCount;         // 126
  Text id164Text;          // 164
  Text instrumentType;     // 110
  Text instrumentVersion;  // 111
  U8 id130Value[6];        // 130
  U16 configRequest;       // 140
  U32 id139Value;          // 139
};
static_assert(offsetof(InstrumentInfo, id130Value) == 14);
static_assert(sizeof(InstrumentInfo) == 26);

// The status of one sample point.
struct PointStatusRecord {
  U16 samplePointId;  // 114
  U32 id125Value;     // 125
  Text statusText;    // 124
  U8 id127Value;      // 127
};
static_assert(sizeof(PointStatusRecord) == 11);

struct Id123Record {
  U32 id123Value;
  U32 id160Value;
  U16 id161Value;
  U8 id2001Block[kId2001BlockSize];
};
static_assert(offsetof(Id123Record, id2001Block) == 10);
static_assert(sizeof(Id123Record) == 26);

// A sample point's text.
struct PointTextRecord {
  U16 samplePointId;  // 114
  U16 id146Length;    // 145: text length without the terminator
  Text id146Text;     // 146
};
static_assert(sizeof(PointTextRecord) == 8);
