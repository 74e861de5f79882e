// The simulator's packet builders, decoder and sample profile, checked through the
// packet library and the codecs, as the driver reads them.
#include <gtest/gtest.h>

#include <cstring>

#include "contracts/dov_pakt.h"
#include "countnet/codecs.h"
#include "sim/packets.h"

namespace {

using sim::Bytes;

bool SameRecord(const SampleRecord &a, const SampleRecord &b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

void *FirstMessage(Bytes &image) {
  return pvPktGetNextMessagePointer(image.data(), nullptr);
}

TEST(SimProfile, IsReproducibleAndFallsWithChannelSize) {
  const struct {
    int channels;
    std::int32_t volume;
    std::int16_t exponent;
    std::uint8_t flags;
    std::uint32_t seed;
    int expectedChannels;
  } cases[] = {{6, 2832, 0, 0x0F, 1, 6},
               {1, 100, -2, 0x0C, 7, 1},
               {32, 28317, 1, 0x05, 99, 32},
               {40, 1, 0, 0, 3, 32},
               {0, 2832, 0, 0x0F, 1, 0}};
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << c.channels << " channels, seed " << c.seed);
    sim::SampleProfile profile;
    profile.channelCount = c.channels;
    profile.sampleVolume = c.volume;
    profile.volumeExponent = c.exponent;
    profile.statusFlags = c.flags;
    profile.seed = c.seed;
    for (std::uint32_t sequence = 0; sequence < 20; ++sequence) {
      SampleRecord sample = sim::MakeSample(profile, sequence);
      EXPECT_TRUE(SameRecord(sample, sim::MakeSample(profile, sequence)));
      ASSERT_EQ(sample.channelCount, c.expectedChannels);
      EXPECT_EQ(sample.sampleVolume.Get(), c.volume);
      EXPECT_EQ(sample.volumeExponent.Get(), c.exponent);
      EXPECT_EQ(sample.statusFlags, c.flags);
      if (c.expectedChannels > 0) {
        EXPECT_GE(sample.channelCounts[0].Get(), 1000);
      }
      // Each channel at most half the one below it: no differential count is negative.
      for (int i = 1; i < c.expectedChannels; ++i) {
        EXPECT_LE(sample.channelCounts[i].Get(), sample.channelCounts[i - 1].Get() / 2) << i;
      }
    }
    sim::SampleProfile other = profile;
    other.seed = c.seed + 1;
    if (c.expectedChannels > 0) {
      EXPECT_FALSE(SameRecord(sim::MakeSample(profile, 0), sim::MakeSample(other, 0)));
      EXPECT_FALSE(SameRecord(sim::MakeSample(profile, 0), sim::MakeSample(profile, 1)));
    }
  }
}

TEST(SimPackets, SamplePacketsDecodeThroughTheCodecs) {
  sim::SampleProfile profile;
  SampleRecord first = sim::MakeSample(profile, 0);
  SampleRecord second = sim::MakeSample(profile, 1);
  second.samplePointId.Set(7);
  const struct {
    Bytes image;
    std::size_t messages;
    std::uint16_t selector;  // position of the record looked for in the first message
  } cases[] = {{sim::SamplePacket(first), 1, 0},
               {sim::SampleMessagesPacket({first, second}), 2, 0},
               {sim::SamplePointsPacket({first, second}), 1, 1}};
  for (auto c : cases) {
    ASSERT_EQ(sim::DecodePacket(c.image).messages.size(), c.messages);
    EXPECT_EQ(sim::PacketLengthAt(c.image), static_cast<long>(c.image.size()));
    SampleRecord decoded{};
    ASSERT_EQ(iDataGetSampleRecord(FirstMessage(c.image), c.selector, 1, &decoded), 0);
    EXPECT_TRUE(SameRecord(decoded, c.selector == 0 ? first : second));
  }
}

TEST(SimPackets, BuildersMakeTheMessagesTheyName) {
  const struct {
    Bytes image;
    std::vector<std::uint16_t> types;
    std::string described;  // a part of the first message's description
  } cases[] = {
      {sim::SamplingConfigPacket(10), {11, 0}, "106=1000 107=5000"},
      {sim::SamplingConfigPacket(1), {11, 0}, "106=100 107=500"},
      {sim::StartPacket(), {4, 2}, "type 4: (no fields)"},
      {sim::LeavingPacket(), {1}, "type 1: (no fields)"},
      {sim::ConfigInfoPacket("T", "V1"), {3}, "110=\"T\" 111=\"V1\""},
      {sim::StatusPacket(9, "flow low"), {5}, "122=9"},
      {sim::BuildPacket({{20, {{1, sim::U16Bytes(3)}, {2, {}}}}, {21, {}}}),
       {20, 21},
       "type 20: 1=3 2=[]"},
  };
  for (const auto &c : cases) {
    sim::Packet packet = sim::DecodePacket(c.image);
    std::vector<std::uint16_t> types;
    for (const sim::Message &message : packet.messages) types.push_back(message.type);
    EXPECT_EQ(types, c.types) << c.described;
    ASSERT_FALSE(packet.messages.empty());
    EXPECT_NE(sim::Describe(packet.messages[0]).find(c.described), std::string::npos)
        << sim::Describe(packet.messages[0]);
  }
  sim::Packet config = sim::DecodePacket(sim::SamplingConfigPacket(10));
  EXPECT_EQ(sim::Describe(config.messages[1]), "type 0: 129=1,0");
  Bytes status = sim::StatusPacket(9, "flow low");
  StatusRecord record{};
  ASSERT_EQ(iStatusGetStatusRecord(FirstMessage(status), &record), 0);
  EXPECT_EQ(record.statusCode.Get(), 9);
  EXPECT_STREQ(record.statusText.Get(), "flow low");
}

TEST(SimPackets, PacketLengthAtTellsWholeHeadersFromNonPackets) {
  Bytes good = sim::LeavingPacket();
  auto withTotal = [&good](std::uint32_t total) {
    Bytes image = good, length = sim::U32Bytes(total);
    std::copy(length.begin(), length.end(), image.begin() + 12);
    return image;
  };
  Bytes badMagic = good;
  badMagic[3] = 0;
  const struct {
    Bytes stream;
    long expected;
  } cases[] = {{good, 22},
               {Bytes(good.begin(), good.begin() + 17), 0},
               {Bytes(good.begin(), good.begin() + 2), 0},
               {badMagic, -1},
               {Bytes(badMagic.begin(), badMagic.begin() + 4), -1},
               {withTotal(17), -1},
               {withTotal(0x80000000u), -1},
               {withTotal(100000), 100000},
               {withTotal(2000000), -1}};
  for (const auto &c : cases) EXPECT_EQ(sim::PacketLengthAt(c.stream), c.expected);
  // A decoder never trusts a total beyond the bytes at hand.
  EXPECT_EQ(sim::DecodePacket(withTotal(100000)).messages.size(), 1u);
}

}  // namespace
