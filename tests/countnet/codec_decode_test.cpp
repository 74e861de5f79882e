// Decoders on hand-made message images, each in a buffer exactly as long as the image so
// that AddressSanitizer reports any read past a field.
#include <gtest/gtest.h>
#include <string.h>

#include <functional>
#include <vector>

#include "countnet/codecs.h"
#include "tests/pakt/pakt_test_support.h"

namespace {

using pakt_test::Bytes;
using pakt_test::Field;

// `count` little-endian values of `width` bytes: first, first + 1, ...
Bytes Values(int count, uint32_t first, int width = 4) {
  Bytes out;
  for (int i = 0; i < count; ++i) {
    for (int b = 0; b < width; ++b) out.push_back(uint8_t((first + i) >> 8 * b));
  }
  return out;
}
const auto U16 = [](uint16_t id, uint16_t v) { return Field{id, Values(1, v, 2)}; };
const auto U32 = [](uint16_t id, uint32_t v) { return Field{id, Values(1, v)}; };
const auto Raw = [](uint16_t id, Bytes data) { return Field{id, data}; };
const auto Text = [](uint16_t id, const char *s) { return Field{id, Bytes(s, s + strlen(s) + 1)}; };

// A sample-data message image with these fields.
Bytes Msg(const std::vector<Field> &fields) {
  size_t length = 4;
  for (const auto &f : fields) length += 4 + f.data.size();
  pakt_test::Image image;
  image.MessageHeader(kMessageSampleData, static_cast<uint16_t>(length));
  for (const auto &f : fields) image.Field(f.id, f.data);
  return image.bytes();
}

// Decodes the sample record that selector and byPosition choose into a record that is all
// 0xA5 beforehand, and expects `result`; `check` then sees the record, or without `check`
// the record must be untouched.
std::function<void(uint8_t *)> SampleAt(uint16_t selector, uint16_t byPosition, int result,
                                        std::function<void(const SampleRecord &)> check = {}) {
  return [=](uint8_t *m) {
    SampleRecord r, before;
    memset(&r, 0xA5, sizeof r);
    before = r;
    EXPECT_EQ(iDataGetSampleRecord(m, selector, byPosition, &r), result);
    if (check) return check(r);
    EXPECT_EQ(memcmp(&r, &before, sizeof r), 0);
  };
}

const Bytes kThreeRecords = Msg({U16(114, 7), U32(116, 100), U16(114, 9), Raw(127, {5}),
                                 U16(115, 0x8000), U16(114, 11), U32(116, 999), Text(153, "late")});

const struct {
  const char *name;
  Bytes image;
  std::function<void(uint8_t *message)> check;
} kCases[] = {
    {"SampleDefaultsOnly", Msg({U16(114, 3)}),
     SampleAt(0, 1, 0,
              [](auto &r) {
                SampleRecord expected{};
                expected.samplePointId.Set(3);
                expected.id115Value.Set(1);  // and id153Text stays null
                EXPECT_EQ(memcmp(&r, &expected, sizeof r), 0);
              })},
    {"SampleChannelCount32And33Values",
     Msg({U16(114, 1), Raw(101, {32}), Raw(120, Values(33, 1000))}),
     SampleAt(0, 1, 0,
              [](auto &r) {
                EXPECT_EQ(r.channelCount, 32);
                for (int i = 0; i < 32; ++i) EXPECT_EQ(r.channelCounts[i].Get(), 1000 + i);
              })},
    {"SampleChannelCount33", Msg({U16(114, 1), Raw(101, {33})}),
     SampleAt(0, 1, kCodecDecodeFailed, [](auto &r) { EXPECT_LE(r.channelCount, 32); })},
    {"SampleNoField114", Msg({Raw(101, {1}), U32(116, 5)}), SampleAt(0, 1, kCodecDecodeFailed)},
    {"SampleEmptyField115", Msg({U16(114, 1), Raw(115, {})}),
     SampleAt(0, 1, kCodecDecodeFailed, [](auto &) {})},
    {"SampleEmpty114", Msg({Raw(114, {}), U32(116, 5)}), SampleAt(0, 1, kCodecDecodeFailed)},
    {"SampleSecondByPosition", kThreeRecords,
     SampleAt(1, 1, 0,
              [](auto &r) {
                EXPECT_EQ(r.samplePointId.Get(), 9);
                EXPECT_EQ(r.id127Value, 5);
                EXPECT_EQ(r.id115Value.Get(), -32768);  // sign-extended
                EXPECT_EQ(r.sampleVolume.Get(), 0);     // 116 and 153 of the next record not read
                EXPECT_EQ(r.id153Text.Get(), nullptr);
              })},
    {"SampleThirdById", kThreeRecords,
     SampleAt(11, 0, 0,
              [](auto &r) {
                EXPECT_EQ(r.sampleVolume.Get(), 999);
                EXPECT_STREQ(r.id153Text.Get(), "late");
                EXPECT_EQ(r.id115Value.Get(), 1);
              })},
    {"SampleIdNotPresent", kThreeRecords, SampleAt(8, 0, kCodecDecodeFailed)},
    {"SamplePositionPastLast", kThreeRecords, SampleAt(3, 1, kCodecDecodeFailed)},
    {"SampleLongerAndShorterFixedFields",
     Msg({U16(114, 1), Raw(116, {1, 2, 3, 4, 5, 6}), U16(144, 0x0807), Raw(117, {0x34, 0x12})}),
     SampleAt(0, 1, 0,
              [](auto &r) {
                EXPECT_EQ(r.sampleVolume.Get(), 0x04030201);
                EXPECT_EQ(r.volumeExponent.Get(), 0x0807);
                EXPECT_EQ(r.id117Value.Get(), 0x1234u);
              })},
    {"SampleTextWithoutNul", Msg({U16(114, 1), Raw(153, {'a', 'b'})}),
     SampleAt(0, 1, 0, [](auto &r) { EXPECT_EQ(r.id153Text.Get(), nullptr); })},
    {"SampleEmptyText", Msg({U16(114, 1), Raw(153, {})}),
     SampleAt(0, 1, 0, [](auto &r) { EXPECT_EQ(r.id153Text.Get(), nullptr); })},
    {"SampleEmptyKnownField", Msg({U16(114, 1), Raw(116, {})}),
     SampleAt(0, 1, kCodecDecodeFailed, [](auto &r) { EXPECT_EQ(r.samplePointId.Get(), 1); })},
    {"SampleEmptyCountsWithChannels", Msg({U16(114, 1), Raw(120, {}), Raw(101, {3})}),
     SampleAt(0, 1, kCodecDecodeFailed, [](auto &r) { EXPECT_EQ(r.channelCount, 3); })},
    {"SampleEmptyCountsWithoutChannels", Msg({U16(114, 1), Raw(119, {0x04}), Raw(120, {})}),
     SampleAt(0, 1, 0, [](auto &r) { EXPECT_EQ(r.statusFlags, 0x04); })},
    {"SampleEmptyCountsInTheSecondRecordOnly",
     Msg({U16(114, 1), Raw(101, {1}), U32(120, 5), U16(114, 2), Raw(101, {2}), Raw(120, {})}),
     [](uint8_t *m) {
       SampleRecord r;
       EXPECT_EQ(iDataGetSampleRecord(m, 0, 1, &r), 0);
       EXPECT_EQ(r.channelCounts[0].Get(), 5);
       EXPECT_EQ(iDataGetSampleRecord(m, 1, 1, &r), kCodecDecodeFailed);
     }},
    {"Id123RecordEmpty2001", Msg({U32(123, 1), Raw(2001, {})}),
     [](uint8_t *m) {
       Id123Record r;
       EXPECT_EQ(iMsgGetId123Record(m, &r), kCodecDecodeFailed);
     }},
    {"SampleUnknownFieldsSkipped",
     Msg({U16(114, 1), Raw(999, {}), Raw(100, {1}), Raw(119, {0x0F})}),
     SampleAt(0, 1, 0, [](auto &r) { EXPECT_EQ(r.statusFlags, 0x0F); })},
    {"StatusFirstField114", Msg({U16(114, 1), U16(122, 5)}),
     [](uint8_t *m) {
       StatusRecord r, zero{};
       memset(&r, 0xA5, sizeof r);
       EXPECT_EQ(iStatusGetStatusRecord(m, &r), 0);
       EXPECT_EQ(memcmp(&r, &zero, sizeof r), 0);
     }},
    {"StatusEndsAt114",
     Msg({U16(122, 0x0102), Text(124, "ok"), U16(126, 3), U16(114, 1), Text(124, "x")}),
     [](uint8_t *m) {
       StatusRecord r;
       EXPECT_EQ(iStatusGetStatusRecord(m, &r), 0);
       EXPECT_EQ(r.statusCode.Get(), 0x0102);
       EXPECT_EQ(r.statusText.Get(), reinterpret_cast<char *>(m) + 14);  // into the message
       EXPECT_EQ(r.recordCount.Get(), 3);
     }},
    {"Id123RecordReadsPast114AndKeeps16Bytes",
     Msg({U32(123, 4), U16(114, 1), U16(161, 6), Raw(2001, Values(5, 0x01010101))}),
     [](uint8_t *m) {
       Id123Record r;
       EXPECT_EQ(iMsgGetId123Record(m, &r), 0);
       EXPECT_EQ(r.id123Value.Get(), 4u);
       EXPECT_EQ(r.id161Value.Get(), 6);
       EXPECT_EQ(memcmp(r.id2001Block, Values(4, 0x01010101).data(), 16), 0);
     }},
    {"DefinitionBoundsAndBlock",
     Msg({U16(114, 2), U16(151, 0xFFFF), Raw(104, Values(33, 1)), Raw(113, {9, 8, 7}),
          Raw(110, {})}),
     [](uint8_t *m) {
       SamplePointDefinition r;
       EXPECT_EQ(iDefGetSamplePointDefinition(m, 2, 0, &r), 0);
       EXPECT_EQ(r.id151Value.Get(), -1);
       EXPECT_EQ(r.id104Array[31].Get(), 32u);
       EXPECT_EQ(r.id105Array[0].Get(), 0u);
       EXPECT_EQ(r.id113Block.length.Get(), 3);
       EXPECT_EQ(r.id113Block.data.Get(), m + 4 + 6 + 6 + 136 + 4);
       EXPECT_EQ(r.id135Value.Get(), 1);
       EXPECT_EQ(r.instrumentType.Get(), nullptr);
     }},
    {"DefinitionChannelCount33", Msg({U16(114, 2), Raw(101, {33})}),
     [](uint8_t *m) {
       SamplePointDefinition r;
       EXPECT_EQ(iDefGetSamplePointDefinition(m, 0, 1, &r), kCodecDecodeFailed);
     }},
    {"ConfigEmptyBlockAndEmptyFixedField",
     Msg({U16(114, 4), Raw(113, {}), U16(135, 9), Raw(128, {})}),
     [](uint8_t *m) {
       SamplePointConfig r;
       EXPECT_EQ(iConfigGetSamplePointConfig(m, 4, &r), kCodecDecodeFailed);  // 128 empty
       EXPECT_EQ(r.id135Value.Get(), 9);
       EXPECT_EQ(r.id113Block.data.Get(), nullptr);
     }},
    {"GettersOnAMessageWithoutTheirFields", Msg({Raw(130, {1, 2, 3, 4, 5}), Raw(110, {'T'})}),
     [](uint8_t *m) {
       uint32_t value = 0;
       uint16_t command = 7;
       PointTextRecord text;
       EXPECT_EQ(pszCfgGetInstrumentType(m), nullptr);  // no NUL inside the field
       EXPECT_EQ(pszCfgGetInstrumentVersion(m), nullptr);
       EXPECT_EQ(pvCfgGetId130Value(m), nullptr);  // shorter than its 6 bytes
       EXPECT_EQ(wCfgGetConfigRequest(m), 1);
       EXPECT_EQ(iMsgGetRecordCount(m, 0), kCodecNoRecordCount);
       EXPECT_EQ(iMsgGetRecordCount(m, 1), 0);
       EXPECT_EQ(iCtrlGetCommand(m, &command, nullptr), kCodecNoControlCommand);
       EXPECT_EQ(command, 7);
       EXPECT_EQ(iMsgGetId131Value(m, &value), kCodecDecodeFailed);
       EXPECT_EQ(iTextGetPointText(m, &text), kCodecDecodeFailed);
     }},
    {"GettersFindTheirFields",
     Msg({Text(110, ""), U16(114, 1), U16(140, 7), U16(114, 2), Raw(123, {0x34, 0x12}),
          Text(110, "second"), U16(129, 3)}),
     [](uint8_t *m) {
       uint32_t value = 0xFFFFFFFF;
       uint16_t argument = 5;
       EXPECT_STREQ(pszCfgGetInstrumentType(m), "");
       EXPECT_EQ(wCfgGetConfigRequest(m), 7);
       EXPECT_EQ(iMsgGetRecordCount(m, 1), 2);
       EXPECT_EQ(iMsgGetId123Value(m, &value), 0);
       EXPECT_EQ(value, 0x1234u);
       EXPECT_EQ(iMsgGetId123Value(m, nullptr), kCodecDecodeFailed);
       EXPECT_EQ(iCtrlGetCommand(m, nullptr, &argument), 3);
       EXPECT_EQ(argument, 0);
     }},
    {"NoFieldsAtAll", Msg({}),
     [](uint8_t *m) { EXPECT_EQ(iMsgGetRecordCount(m, 1), kCodecDecodeFailed); }},
};

TEST(CodecDecode, EveryDecoderOnHandMadeImages) {
  for (const auto &c : kCases) {
    SCOPED_TRACE(c.name);
    pakt_test::ExactBuffer image(c.image);
    c.check(image.data());
  }
}

}  // namespace
