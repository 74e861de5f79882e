// Encoders: the fields they put on the message, in order, through which add call, what
// happens when the message is full, bad arguments, and round trips through the decoders.
#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "countnet/codecs.h"
#include "tests/pakt/pakt_test_support.h"

namespace {
std::vector<uint16_t> onChangeIds;  // ids sent through iMsgAddOnChange since the last clear
}  // namespace

// Link-time stand-in for the packet library's call, so that the tests see which fields an
// encoder sends on change; the library treats both calls alike, and so does this one.
extern "C" int iMsgAddOnChange(void *message, uint16_t id, uint16_t length, const void *data) {
  onChangeIds.push_back(id);
  return iMsgAddField(message, id, length, data);
}

namespace {

using pakt_test::DecodeFields;

const char *const kTexts[] = {"alpha", "", "gamma-3", "delta"};
const uint8_t kBlock[] = {0xB0, 0xB1, 0xB2};

// Every byte set (the samplePointId too, differing by seed), so that a member that does
// not come back shows in the comparison.
template <class R>
R Pattern(int seed) {
  R r;
  auto *bytes = reinterpret_cast<uint8_t *>(&r);
  for (size_t i = 0; i < sizeof r; ++i) bytes[i] = static_cast<uint8_t>(seed * 31 + i * 7 + 1);
  return r;
}

// Only `count` values of an array go on the message; the rest must be 0 to come back.
template <class T, size_t N>
void KeepValues(T (&array)[N], int count) {
  for (size_t i = count; i < N; ++i) array[i].Set(0);
}

SampleRecord Sample(int seed, uint8_t channels, const char *text) {
  auto r = Pattern<SampleRecord>(seed);
  r.id153Text.Set(text);
  r.id115Value.Set(-1000 - seed);  // 2 bytes on the message
  r.channelCount = channels;
  KeepValues(r.channelCounts, channels);
  return r;
}

SamplePointConfig Config(int seed, uint8_t channels) {
  auto r = Pattern<SamplePointConfig>(seed);
  r.channelCount = channels;
  KeepValues(r.id143Array, channels);
  KeepValues(r.id103Array, channels);
  r.id113Block.length.Set(sizeof kBlock);
  r.id113Block.data.Set(kBlock);
  return r;
}

SamplePointDefinition Definition(int seed, uint8_t channels, uint8_t second, bool texts) {
  auto r = Pattern<SamplePointDefinition>(seed);
  r.channelCount = channels;
  r.arrayCounts[1] = second;
  KeepValues(r.id143Array, channels);
  KeepValues(r.id103Array, channels);
  KeepValues(r.id104Array, second);
  KeepValues(r.id105Array, second);
  r.instrumentType.Set(kTexts[seed % 4]);
  r.instrumentVersion.Set(texts ? kTexts[(seed + 1) % 4] : nullptr);
  r.id141Text.Set(texts ? kTexts[(seed + 2) % 4] : nullptr);
  r.id151Value.Set(-2 - seed);
  r.id113Block.length.Set(0);
  r.id113Block.data.Set(nullptr);
  return r;
}

StatusRecord Status(const char *text) {
  auto r = Pattern<StatusRecord>(5);
  r.unused2.Set(0);
  r.statusText.Set(text);
  return r;
}

PointStatusRecord PointStatus(int seed) {
  auto r = Pattern<PointStatusRecord>(seed);
  r.statusText.Set(kTexts[seed % 4]);
  return r;
}

PointTextRecord PointText(const char *text) {
  PointTextRecord r;
  r.samplePointId.Set(77);
  r.id146Length.Set(static_cast<uint16_t>(strlen(text)));
  r.id146Text.Set(text);
  return r;
}

InstrumentInfo Info() {
  auto r = Pattern<InstrumentInfo>(9);
  r.id164Text.Set(kTexts[0]);
  r.instrumentType.Set(kTexts[2]);
  r.instrumentVersion.Set(kTexts[3]);
  return r;
}

// "id:length" for each field of the message, and * after one sent through iMsgAddOnChange.
std::string Sent(void *m) {
  std::string text;
  for (const auto &f : DecodeFields(m)) {
    bool onChange = std::count(onChangeIds.begin(), onChangeIds.end(), f.id) != 0;
    text += (text.empty() ? "" : " ") + std::to_string(f.id) + ":" + std::to_string(f.data.size()) +
            (onChange ? "*" : "");
  }
  return text;
}

template <class R>
std::function<int(void *)> Encoding(int (*encode)(void *, const R *), R record) {
  return [=](void *m) { return encode(m, &record); };
}

// Definition: 40 values of 104/105 are sent as 32, and the unset texts not at all.
const struct {
  const char *name;
  std::function<int(void *)> encode;
  std::string sent;
} kEncoderCases[] = {
    {"SampleRecord", Encoding(iDataAddSampleRecord, Sample(0, 2, "t")),
     "114:2 115:2* 101:1* 153:2 127:1* 116:4* 144:2* 117:4* 118:5* 106:4* 162:4* 119:1* 121:2* "
     "120:8*"},
    {"SamplePointConfigWithoutChannels", Encoding(iConfigAddSamplePointConfig, Config(0, 0)),
     "114:2 101:1* 143:0* 103:0* 106:4* 107:4* 154:4* 113:3* 116:4* 158:4* 155:4* 156:4* 157:4* "
     "128:2* 142:4* 132:4* 133:4* 134:1* 138:4* 135:2* 136:4* 137:4* 159:4* 147:1* 148:1* 149:1* "
     "150:1*"},
    {"SamplePointDefinition", Encoding(iDefAddSamplePointDefinition, Definition(0, 3, 40, false)),
     "114:2 101:1* 102:2* 143:12* 103:12* 104:128* 105:128* 106:4* 107:4* 154:4* 108:8* 109:8* "
     "110:6* 151:2* 116:4* 158:4* 155:4* 156:4* 157:4* 112:1* 113:0* 128:2* 142:4* 132:4* 133:4* "
     "134:1* 138:4* 135:2* 136:4* 137:4* 159:4* 152:4 147:1* 148:1* 149:1* 150:1* 163:2*"},
    {"StatusRecordWithoutText", Encoding(iStatusAddStatusRecord, Status(nullptr)),
     "122:2 123:4 125:4 126:2"},
    {"PointStatus", Encoding(iStatusAddPointStatus, PointStatus(2)), "114:2 124:8 125:4 127:1"},
    {"InstrumentInfo", Encoding(iCfgAddInstrumentInfo, Info()),
     "126:2 164:6 110:8 111:6 130:6 139:4 140:2"},
    {"Id123Record", Encoding(iMsgAddId123Record, Pattern<Id123Record>(1)),
     "123:4 160:4* 161:2* 2001:16*"},
    {"PointText", Encoding(iTextAddPointText, PointText("abc")), "114:2 145:2 146:4"},
    {"Command", [](void *m) { return iCtrlSetCommand(m, 1, 0); }, "129:4"},
    {"Values",
     [](void *m) {
       int result = iMsgAddRecordCount(m, 1);
       if (result == 0) result = iMsgAddId123Value(m, 2);
       return result != 0 ? result : iMsgAddId131Value(m, 3);
     },
     "126:2 123:4 131:4"},
};

TEST(CodecEncode, FieldOrderAddCallsAndFullMessage) {
  for (const auto &c : kEncoderCases) {
    SCOPED_TRACE(c.name);
    void *m = pvMsgAllocateMessage(2000);
    onChangeIds.clear();
    ASSERT_EQ(c.encode(m), 0);
    EXPECT_EQ(Sent(m), c.sent);
    auto sent = DecodeFields(m);
    iMsgFreeMessage(m);
    // With room for `cut` fields and all but one byte of the next, the library's refusal
    // is passed up and what was added before it stays.
    size_t room = 4;  // the message header, then the fields before the cut
    for (size_t cut = 0; cut < sent.size(); room += 4 + sent[cut++].data.size()) {
      void *small = pvMsgAllocateMessage(static_cast<int>(room + 4 + sent[cut].data.size() - 1));
      EXPECT_EQ(c.encode(small), kPaktErrNoRoom);
      EXPECT_EQ(DecodeFields(small), decltype(sent)(sent.begin(), sent.begin() + cut));
      iMsgFreeMessage(small);
    }
  }
}

// Converts to a pointer to any record, for the calls that must fail before using it.
struct AnyRecord {
  template <class R>
  operator R *() {
    return reinterpret_cast<R *>(bytes);
  }
  uint8_t bytes[sizeof(SamplePointDefinition)] = {};
};

template <class... Results>
void ExpectAll(int expected, Results... results) {
  int call = 0;
  for (int result : {results...}) EXPECT_EQ(result, expected) << "call " << call++;
}

TEST(CodecArguments, NullArgumentsAndDriverRequests) {
  void *m = pvMsgAllocateMessage(100);
  const uint16_t zero = 0, one = 1;
  AnyRecord any;
  ASSERT_EQ(iMsgAddField(m, 114, 2, &zero), 0);  // a record 0 for the decoders to find
  ExpectAll(kCodecDecodeFailed, iDataGetSampleRecord(m, 0, 1, nullptr),
            iDataGetSampleRecord(nullptr, 0, 1, any), iStatusGetStatusRecord(m, nullptr),
            iStatusGetStatusRecord(nullptr, any), iStatusGetPointStatus(m, 0, nullptr),
            iStatusGetPointStatus(nullptr, 0, any), iConfigGetSamplePointConfig(m, 0, nullptr),
            iConfigGetSamplePointConfig(nullptr, 0, any),
            iDefGetSamplePointDefinition(m, 0, 1, nullptr),
            iDefGetSamplePointDefinition(nullptr, 0, 1, any), iMsgGetId123Record(m, nullptr),
            iMsgGetId123Record(nullptr, any), iMsgGetRecordCountField(nullptr),
            iMsgGetRecordCount(nullptr, 1));
  ExpectAll(kCodecBadArgument, iTextGetPointText(m, nullptr), iTextGetPointText(nullptr, any),
            iCtrlGetCommand(nullptr, nullptr, nullptr), iCfgAddGetConfig(m, nullptr),
            iCfgAddGetConfig(nullptr, &one), iCtrlSetCommand(nullptr, 1, 0),
            iMsgAddRecordCount(nullptr, 1), iMsgAddId123Value(nullptr, 1),
            iMsgAddId131Value(nullptr, 1), iDataAddSampleRecord(m, nullptr),
            iDataAddSampleRecord(nullptr, any), iConfigAddSamplePointConfig(m, nullptr),
            iConfigAddSamplePointConfig(nullptr, any), iDefAddSamplePointDefinition(m, nullptr),
            iDefAddSamplePointDefinition(nullptr, any), iStatusAddStatusRecord(m, nullptr),
            iStatusAddStatusRecord(nullptr, any), iStatusAddPointStatus(m, nullptr),
            iStatusAddPointStatus(nullptr, any), iCfgAddInstrumentInfo(m, nullptr),
            iCfgAddInstrumentInfo(nullptr, any), iMsgAddId123Record(m, nullptr),
            iMsgAddId123Record(nullptr, any), iTextAddPointText(m, nullptr),
            iTextAddPointText(nullptr, any));
  EXPECT_EQ(pszCfgGetInstrumentType(nullptr), nullptr);
  // Nothing was added by the calls above; the driver's own requests come out as below.
  EXPECT_EQ(iCtrlSetCommand(m, 1, 0) | iCfgAddGetConfig(m, &one), 0);
  EXPECT_EQ(DecodeFields(m),
            (std::vector<pakt_test::Field>{{114, {0, 0}}, {129, {1, 0, 0, 0}}, {140, {1, 0}}}));
  iMsgFreeMessage(m);
}

// The pointer members of a record: each one's offset, and the length of what it points at
// (0 for a text, compared with its NUL).
using Pointers = std::vector<std::pair<size_t, size_t>>;

// Encodes the records into one message and decodes each back, by id and, with
// `byPosition`, by position too. Pointer members must point into the message at what was
// sent; every other byte must come back as sent.
template <class R, class Decode>
void ExpectRoundTrip(const std::vector<R> &records, int (*encode)(void *, const R *), Decode decode,
                     bool byPosition, const Pointers &pointers = {}) {
  void *m = pvMsgAllocateMessage(4000);
  for (const R &r : records) ASSERT_EQ(encode(m, &r), 0);
  auto *begin = static_cast<const char *>(m), *end = begin + 4000;
  for (uint16_t i = 0; i < records.size(); ++i) {
    for (uint16_t position = 0; position <= byPosition; ++position) {
      SCOPED_TRACE(testing::Message() << "record " << i << " by position " << position);
      auto *in = reinterpret_cast<const uint8_t *>(&records[i]);
      R back;
      auto *out = reinterpret_cast<uint8_t *>(&back);
      ASSERT_EQ(decode(m, position ? i : uint16_t(in[0] | in[1] << 8), position, &back), 0);
      for (auto [at, length] : pointers) {
        const char *was, *is;
        memcpy(&was, in + at, sizeof was);
        memcpy(&is, out + at, sizeof is);
        if (was != nullptr && length == 0) length = strlen(was) + 1;
        EXPECT_TRUE(was == nullptr ? is == nullptr
                                   : is >= begin && is + length <= end && !memcmp(is, was, length))
            << "pointer member at " << at;
        memcpy(out + at, &was, sizeof was);
      }
      EXPECT_EQ(std::mismatch(in, in + sizeof(R), out).first - in, int(sizeof(R)))
          << "first difference";
    }
  }
  iMsgFreeMessage(m);
}

// Decoders adapted to (message, selector, selectByPosition, record).
template <class R>
auto ById(int (*get)(void *, uint16_t, R *)) {
  return [get](void *m, uint16_t id, uint16_t, R *r) { return get(m, id, r); };
}
template <class R>
auto Whole(int (*get)(void *, R *)) {
  return [get](void *m, uint16_t, uint16_t, R *r) { return get(m, r); };
}

TEST(CodecEncode, RoundTrips) {
  using D = SamplePointDefinition;
  ExpectRoundTrip<SampleRecord>({Sample(0, 32, "a"), Sample(1, 0, nullptr), Sample(2, 5, "c")},
                                iDataAddSampleRecord, iDataGetSampleRecord, true,
                                {{offsetof(SampleRecord, id153Text), 0}});
  ExpectRoundTrip<SamplePointConfig>(
      {Config(0, 32), Config(1, 0), Config(2, 7)}, iConfigAddSamplePointConfig,
      ById(iConfigGetSamplePointConfig), false,
      {{offsetof(SamplePointConfig, id113Block.data), sizeof kBlock}});
  ExpectRoundTrip<D>(
      {Definition(0, 32, 32, true), Definition(1, 0, 0, false), Definition(2, 4, 9, true)},
      iDefAddSamplePointDefinition, iDefGetSamplePointDefinition, true,
      {{offsetof(D, instrumentType), 0},
       {offsetof(D, instrumentVersion), 0},
       {offsetof(D, id141Text), 0}});
  ExpectRoundTrip<PointStatusRecord>({PointStatus(0), PointStatus(1)}, iStatusAddPointStatus,
                                     ById(iStatusGetPointStatus), false,
                                     {{offsetof(PointStatusRecord, statusText), 0}});
  ExpectRoundTrip<StatusRecord>({Status("status")}, iStatusAddStatusRecord,
                                Whole(iStatusGetStatusRecord), false,
                                {{offsetof(StatusRecord, statusText), 0}});
  ExpectRoundTrip<Id123Record>({Pattern<Id123Record>(3)}, iMsgAddId123Record,
                               Whole(iMsgGetId123Record), false);
  ExpectRoundTrip<PointTextRecord>({PointText("point text")}, iTextAddPointText,
                                   Whole(iTextGetPointText), false,
                                   {{offsetof(PointTextRecord, id146Text), 0}});
}

TEST(CodecEncode, RoundTripsThroughGetters) {
  void *m = pvMsgAllocateMessage(200);
  InstrumentInfo info = Info();
  uint16_t command = 0, argument = 0;
  uint32_t value123 = 0, value131 = 0;
  ASSERT_EQ(iCfgAddInstrumentInfo(m, &info), 0);
  ASSERT_EQ(iCtrlSetCommand(m, 0xBEEF, 0x8001), 0);
  ASSERT_EQ(iMsgAddId123Value(m, 0x12345678) | iMsgAddId131Value(m, 0xCAFEF00D), 0);
  EXPECT_STREQ(pszCfgGetId164Text(m), kTexts[0]);
  EXPECT_STREQ(pszCfgGetInstrumentType(m), kTexts[2]);
  EXPECT_STREQ(pszCfgGetInstrumentVersion(m), kTexts[3]);
  EXPECT_EQ(pszCfgGetId141Text(m), nullptr);
  EXPECT_EQ(memcmp(pvCfgGetId130Value(m), info.id130Value, 6), 0);
  EXPECT_EQ(memcmp(pvCfgGetId139Value(m), &info.id139Value, 4), 0);
  EXPECT_EQ(wCfgGetConfigRequest(m), info.configRequest.Get());
  EXPECT_EQ(iMsgGetRecordCountField(m), info.recordCount.Get());
  EXPECT_EQ(iMsgGetRecordCount(m, 0), info.recordCount.Get());
  EXPECT_EQ(iCtrlGetCommand(m, &command, &argument), 0xBEEF);
  EXPECT_EQ(command, 0xBEEF);
  EXPECT_EQ(argument, 0x8001);
  EXPECT_EQ(iMsgGetId123Value(m, &value123) | iMsgGetId131Value(m, &value131), 0);
  EXPECT_EQ(value123, 0x12345678u);
  EXPECT_EQ(value131, 0xCAFEF00Du);
  iMsgFreeMessage(m);
}

}  // namespace
