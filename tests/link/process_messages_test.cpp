// Incoming packets over a real loopback connection: decoding, normalization, gate writes,
// log lines, and what the driver concludes about a stream that breaks.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <future>
#include <limits>
#include <string>

#include "contracts/dov_pakt.h"
#include "countnet/codecs.h"
#include "link/process_messages.h"
#include "tests/support/packet_builder.h"
#include "tests/support/station_link.h"

namespace {

using testing_support::LogCapture;
using testing_support::StationLink;

constexpr std::uint16_t kStation = testing_support::kLinkStation;
constexpr double kUntouched = std::numeric_limits<double>::quiet_NaN();

std::string ChannelGate(int channel) {
  char address[16];
  std::snprintf(address, sizeof address, "001F%04d", channel);
  return address;
}

struct Outcome {
  int result;
  bool linkLost;
};

Outcome Process(StationLink &link) {
  Received received = link.ProcessOnePacket();
  return Outcome{received.samples > 0 ? 1 : 0, received.linkLost};
}

struct SampleCase {
  const char *name;
  std::vector<std::int32_t> counts;
  std::int32_t volume;
  std::int16_t exponent;
  std::uint8_t flags;
  std::vector<float> gates;  // expected channel gate values
  double airFlow;            // kUntouched: the air-flow gate is not written
  std::vector<std::string> log;
};

std::ostream &operator<<(std::ostream &os, const SampleCase &c) {
  return os << c.name;
}

const SampleCase kSampleCases[] = {
    {"WorkedExample",
     {100, 40, 10},
     2832,
     0,
     0x0F,
     {17.655367f, 10.593221f, 3.531073f},
     1.0,
     {"Channel 0 Diff Val 50 Normalized diff val: 17.655367",
      "Channel 1 Diff Val 30 Normalized diff val: 10.593221",
      "Channel 2 Diff Val 10 Normalized diff val: 3.531073"}},
    {"VolumeZeroDividesByOne",
     {100, 40, 10},
     0,
     0,
     0x0F,
     {50, 30, 10},
     1.0,
     {"Channel 0 Diff Val 50 Normalized diff val: 50.000000",
      "Channel 1 Diff Val 30 Normalized diff val: 30.000000",
      "Channel 2 Diff Val 10 Normalized diff val: 10.000000"}},
    {"InfiniteDivisorGivesZero",
     {100, 40, 10},
     2832,
     -400,
     0x0F,
     {0, 0, 0},
     1.0,
     {"Channel 0 Diff Val 50 Normalized diff val: 0.000000",
      "Channel 1 Diff Val 30 Normalized diff val: 0.000000",
      "Channel 2 Diff Val 10 Normalized diff val: 0.000000"}},
    {"NotANumberDivisorDividesByOne",
     {100, 40, 10},
     0,
     -400,
     0x0F,
     {50, 30, 10},
     1.0,
     {"Channel 0 Diff Val 50 Normalized diff val: 50.000000",
      "Channel 1 Diff Val 30 Normalized diff val: 30.000000",
      "Channel 2 Diff Val 10 Normalized diff val: 10.000000"}},
    {"NegativeDifferentialIsZero",
     {5, 7, 1},
     1000,
     0,
     0x0F,
     {0, 6, 1},
     1.0,
     {"Channel 1 Diff Val 6 Normalized diff val: 6.000000",
      "Channel 2 Diff Val 1 Normalized diff val: 1.000000"}},
    {"SumBeyond32BitsIsClampedAtZero",
     {INT_MIN, INT_MAX, 1},
     1000,
     0,
     0x0F,
     {0, 2147483646.0f, 1},
     1.0,
     {"Channel 1 Diff Val 2147483646 Normalized diff val: 2147483648.000000",
      "Channel 2 Diff Val 1 Normalized diff val: 1.000000"}},
    {"DifferenceBeyond32BitsIsClampedAtTheMaximum",
     {INT_MAX, INT_MIN, 0},
     1000,
     0,
     0x0F,
     {2147483647.0f, 0, 0},
     1.0,
     {"Channel 0 Diff Val 2147483647 Normalized diff val: 2147483648.000000"}},
    {"NoDeviceResults",
     {3},
     1000,
     0,
     0x00,
     {3},
     kUntouched,
     {"Channel 0 Diff Val 3 Normalized diff val: 3.000000"}},
    {"LaserAndFlowFailed",
     {3},
     1000,
     0,
     0x0C,
     {3},
     0.0,
     {"Channel 0 Diff Val 3 Normalized diff val: 3.000000",
      "DEVADO: ProcessMessages() Device 1 - Countnet Laser Fail",
      "DEVADO: ProcessMessages() Device 1 - Countnet Flow rate Fail"}},
    {"ZeroChannelsStillReportTheDevice",
     {},
     1000,
     0,
     0x0C,
     {},
     0.0,
     {"DEVADO: ProcessMessages() Device 1 - Countnet Laser Fail",
      "DEVADO: ProcessMessages() Device 1 - Countnet Flow rate Fail"}},
};

class SampleData : public testing::TestWithParam<SampleCase> {};

TEST_P(SampleData, BecomesNormalizedDifferentialsInTheGates) {
  const SampleCase &c = GetParam();
  StationLink link;
  ASSERT_TRUE(link.connected());
  LogCapture log;
  ASSERT_TRUE(link.Send(BuildPacket({SampleMessage(c.counts, c.volume, c.exponent, c.flags)})));

  Outcome outcome = Process(link);

  EXPECT_EQ(outcome.result, 1);
  EXPECT_FALSE(outcome.linkLost);
  for (int channel = 0; channel < 32; ++channel) {
    unsigned writes = 0;
    double value = StationLink::GateValue(ChannelGate(channel), &writes);
    if (channel < static_cast<int>(c.gates.size())) {
      EXPECT_EQ(writes, 1u) << "channel " << channel;
      EXPECT_FLOAT_EQ(static_cast<float>(value), c.gates[channel]) << "channel " << channel;
    } else {
      EXPECT_EQ(writes, 0u) << "channel " << channel;
    }
  }
  unsigned airWrites = 0;
  double air = StationLink::GateValue("001AIR_FLOW", &airWrites);
  if (std::isnan(c.airFlow)) {
    EXPECT_EQ(airWrites, 0u);
  } else {
    EXPECT_EQ(airWrites, 1u);
    EXPECT_EQ(air, c.airFlow);
  }
  EXPECT_EQ(log.Texts(), c.log);
  for (const auto &line : log.Lines()) EXPECT_EQ(line.level, 0) << line.text;
}

INSTANTIATE_TEST_SUITE_P(ProcessMessages, SampleData, testing::ValuesIn(kSampleCases),
                         [](const testing::TestParamInfo<SampleCase> &info) {
                           return std::string(info.param.name);
                         });

// The sample packet of docs/wire-format.md, byte for byte, gives the values written there:
// a station built from that page alone talks to the driver.
TEST(ProcessMessages, TheDocumentedSamplePacketGivesTheDocumentedValues) {
  const std::vector<unsigned char> documented = {
      0xef, 0xbe, 0xad, 0xde, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x76, 0x00, 0x00,
      0x00, 0x01, 0x00, 0x0a, 0x00, 0x64, 0x00, 0x72, 0x00, 0x02, 0x00, 0x00, 0x00, 0x73, 0x00,
      0x02, 0x00, 0x01, 0x00, 0x65, 0x00, 0x01, 0x00, 0x03, 0x7f, 0x00, 0x01, 0x00, 0x00, 0x74,
      0x00, 0x04, 0x00, 0x10, 0x0b, 0x00, 0x00, 0x90, 0x00, 0x02, 0x00, 0x00, 0x00, 0x75, 0x00,
      0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x76, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x6a, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0xa2, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x77, 0x00, 0x01, 0x00, 0x0f, 0x79, 0x00, 0x02, 0x00, 0x00, 0x00, 0x78, 0x00, 0x0c,
      0x00, 0x64, 0x00, 0x00, 0x00, 0x28, 0x00, 0x00, 0x00, 0x0a, 0x00, 0x00, 0x00};
  ASSERT_EQ(documented.size(), 118u);
  StationLink link;
  ASSERT_TRUE(link.connected());
  ASSERT_TRUE(link.Send(documented));

  EXPECT_EQ(Process(link).result, 1);
  const float expected[] = {17.655367f, 10.593221f, 3.531073f};
  for (int channel = 0; channel < 3; ++channel) {
    EXPECT_FLOAT_EQ(static_cast<float>(StationLink::GateValue(ChannelGate(channel))),
                    expected[channel]);
  }
  EXPECT_EQ(StationLink::GateValue("001AIR_FLOW"), 1.0);
}

TEST(ProcessMessages, LogsConfigurationAndStatusMessagesAndSkipsOthers) {
  StationLink link;
  ASSERT_TRUE(link.connected());
  LogCapture log;
  ASSERT_TRUE(link.Send(BuildPacket(
      {ConfigInfoMessage("Model 7", "2.1"), ConfigInfoMessage(nullptr, nullptr),
       OpaqueMessage(77, 4), StatusMessage(3, "filter change due"), StatusMessage(4, nullptr)})));
  Outcome outcome = Process(link);
  EXPECT_EQ(outcome.result, 0);
  EXPECT_FALSE(outcome.linkLost);
  EXPECT_EQ(log.Texts(), (std::vector<std::string>{
                             "DEVADO: ProcessMessages() CONFIG_INFO Message received",
                             "DEVADO: ProcessMessages() Instrument type is 'Model 7'",
                             "DEVADO: ProcessMessages() Instrument Version is '2.1'",
                             "DEVADO: ProcessMessages() CONFIG_INFO Message received",
                             "DEVADO: ProcessMessages() Instrument type is ''",
                             "DEVADO: ProcessMessages() Instrument Version is ''",
                             "DEVADO: ProcessMessages() Got status 'filter change due'",
                             "DEVADO: ProcessMessages() Got status ''",
                         }));
}

TEST(ProcessMessages, EverySampleMessageOfAPacketIsHandledInOrder) {
  StationLink link;
  ASSERT_TRUE(link.connected());
  ASSERT_TRUE(link.Send(
      BuildPacket({SampleMessage({10, 4}, 1000, 0, 0x0F), SampleMessage({20, 5}, 1000, 0, 0x09)})));
  LogCapture log;
  EXPECT_EQ(Process(link).result, 1);
  EXPECT_EQ(log.Texts().back(), "DEVADO: ProcessMessages() Device 1 - Countnet Flow rate Fail");
  unsigned writes = 0;
  EXPECT_EQ(StationLink::GateValue("001F0000", &writes), 15.0);
  EXPECT_EQ(writes, 2u);
  EXPECT_EQ(StationLink::GateValue("001AIR_FLOW", &writes), 0.0);
  EXPECT_EQ(writes, 2u);
}

// A sample that claims channels but brings no counts must not zero the channel gates.
TEST(ProcessMessages, ChannelsWithoutCountsWriteNoGateAndNoAlarm) {
  StationLink link;
  ASSERT_TRUE(link.connected());
  MessageFiller emptyCounts = [](void *message) {
    vMsgSetMessageType(message, kMessageSampleData);
    std::uint16_t point = 1;
    std::uint8_t channels = 3, flags = 0x0C;
    iMsgAddField(message, kFieldSamplePointId, sizeof point, &point);
    iMsgAddField(message, kFieldChannelCount, sizeof channels, &channels);
    iMsgAddField(message, 119, sizeof flags, &flags);
    iMsgAddField(message, 120, 0, nullptr);
  };
  ASSERT_TRUE(link.Send(BuildPacket({emptyCounts, SampleMessage({7}, 1000, 0, 0x0F)})));
  LogCapture log;
  Outcome outcome = Process(link);
  EXPECT_EQ(outcome.result, 1) << "the second message is a good sample";
  EXPECT_FALSE(outcome.linkLost);
  EXPECT_EQ(log.Texts(),
            (std::vector<std::string>{"Channel 0 Diff Val 7 Normalized diff val: 7.000000"}));
  unsigned writes = 0;
  EXPECT_EQ(StationLink::GateValue("001F0000", &writes), 7.0);
  EXPECT_EQ(writes, 1u);
  EXPECT_EQ(StationLink::GateValue("001AIR_FLOW", &writes), 1.0);
  EXPECT_EQ(writes, 1u);
}

TEST(ProcessMessages, OnlyTheFirstSamplePointOfAMessageReachesTheGates) {
  StationLink link;
  ASSERT_TRUE(link.connected());
  MessageFiller twoPoints = [](void *message) {
    vMsgSetMessageType(message, kMessageSampleData);
    for (std::int32_t count : {4, 9}) {
      SampleRecord record;
      std::memset(&record, 0, sizeof record);
      record.samplePointId.Set(static_cast<std::uint16_t>(count));
      record.channelCount = 1;
      record.sampleVolume.Set(1000);
      record.statusFlags = 0x0F;
      record.channelCounts[0].Set(count);
      iDataAddSampleRecord(message, &record);
    }
  };
  ASSERT_TRUE(link.Send(BuildPacket({twoPoints})));
  LogCapture log;
  EXPECT_EQ(Process(link).result, 1);
  EXPECT_EQ(log.Texts(),
            (std::vector<std::string>{"Channel 0 Diff Val 4 Normalized diff val: 4.000000"}));
  unsigned writes = 0;
  EXPECT_EQ(StationLink::GateValue("001F0000", &writes), 4.0);
  EXPECT_EQ(writes, 1u);
}

TEST(ProcessMessages, AMessageCountBeyondTheContentStopsTheWalk) {
  StationLink link;
  ASSERT_TRUE(link.connected());
  Bytes packet = BuildPacket({SampleMessage({10, 4}, 1000, 0, 0x0F)});
  packet[16] = 9;  // claims nine messages
  ASSERT_TRUE(link.Send(packet));
  Outcome outcome = Process(link);
  EXPECT_EQ(outcome.result, 1);
  EXPECT_FALSE(outcome.linkLost);
  unsigned writes = 0;
  EXPECT_EQ(StationLink::GateValue("001F0000", &writes), 6.0);
  EXPECT_EQ(writes, 1u);
}

// Every split point, in the header and in the body: the packet is read whole.
TEST(ProcessMessages, APacketArrivingInTwoPiecesIsReadWhole) {
  StationLink link;
  ASSERT_TRUE(link.connected());
  Bytes packet = BuildPacket({SampleMessage({100, 40, 10}, 2832, 0, 0x0F)});
  for (std::size_t split = 1; split < packet.size(); ++split) {
    ASSERT_TRUE(link.Send(Bytes(packet.begin(), packet.begin() + split)));
    auto reading = std::async(std::launch::async, [&] { return Process(link); });
    win::Sleep(1);  // lets the reader see the first piece alone most of the time
    ASSERT_TRUE(link.Send(Bytes(packet.begin() + split, packet.end())));
    Outcome outcome = reading.get();
    ASSERT_EQ(outcome.result, 1) << "split at " << split;
    ASSERT_FALSE(outcome.linkLost) << "split at " << split;
  }
  unsigned writes = 0;
  EXPECT_FLOAT_EQ(static_cast<float>(StationLink::GateValue("001F0000", &writes)), 17.655367f);
  EXPECT_EQ(writes, packet.size() - 1);
}

TEST(ProcessMessages, PacketsSentInOneBurstAreEachDecoded) {
  StationLink link;
  ASSERT_TRUE(link.connected());
  ASSERT_TRUE(link.Send(Concat(BuildPacket({SampleMessage({10}, 1000, 0, 0x0F)}),
                               BuildPacket({SampleMessage({20}, 1000, 0, 0x0F)}))));
  EXPECT_EQ(Process(link).result, 1);
  EXPECT_EQ(StationLink::GateValue("001F0000"), 10.0);
  EXPECT_EQ(Process(link).result, 1);
  unsigned writes = 0;
  EXPECT_EQ(StationLink::GateValue("001F0000", &writes), 20.0);
  EXPECT_EQ(writes, 2u);
}

struct LengthCase {
  const char *name;
  Bytes bytes;
  bool linkLost;
  bool corruptLine;
  const char *cause;  // completes "Station 1 ..." in the detail line; null: none
};

std::ostream &operator<<(std::ostream &os, const LengthCase &c) {
  return os << c.name;
}

const LengthCase kLengthCases[] = {
    {"MinusOne", PacketHeader(-1, 0), true, true, "sent a packet of impossible length"},
    {"BelowTheHeader", PacketHeader(17, 0), true, true, "sent a packet of impossible length"},
    {"HeaderOnly", PacketHeader(18, 0), false, false, nullptr},
    {"HeaderOnlyClaimingMessages", PacketHeader(18, 3), false, false, nullptr},
    {"FillsTheBuffer", BuildPacket({OpaqueMessage(77, 5000 - 18 - 8)}), false, false, nullptr},
    {"BeyondTheBuffer", Concat(PacketHeader(5001, 1), Bytes(4983, 0)), true, true,
     "sent a packet of impossible length"},
    {"TwoToThe31", PacketHeader(INT_MIN, 0), true, true, "sent a packet of impossible length"},
    {"WrongMagic", PacketHeader(18, 0, 0xDEADBEEE), true, false,
     "sent bytes that do not begin a packet"},
};

class PacketLength : public testing::TestWithParam<LengthCase> {};

TEST_P(PacketLength, IsCheckedBeforeTheBodyIsReceived) {
  const LengthCase &c = GetParam();
  StationLink link;
  ASSERT_TRUE(link.connected());
  LogCapture log;
  ASSERT_TRUE(link.Send(c.bytes));
  Outcome outcome = Process(link);
  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(outcome.linkLost, c.linkLost);
  std::vector<std::string> expected;
  if (c.corruptLine) expected.push_back("DEVADO: ProcessMessages() Countnet Sent Corrupt Packet");
  if (c.cause != nullptr)
    expected.push_back(std::string("DEVADO: ProcessMessages() Station 1 ") + c.cause);
  EXPECT_EQ(log.Texts(), expected);
}

INSTANTIATE_TEST_SUITE_P(ProcessMessages, PacketLength, testing::ValuesIn(kLengthCases),
                         [](const testing::TestParamInfo<LengthCase> &info) {
                           return std::string(info.param.name);
                         });

struct BreakCase {
  const char *name;
  Bytes before;  // what the station sends before the connection breaks
  bool reset;
  const char *cause;
};

std::ostream &operator<<(std::ostream &os, const BreakCase &c) {
  return os << c.name;
}

const BreakCase kBreakCases[] = {
    {"ClosedBetweenPackets", {}, false, "closed the connection"},
    // Some stacks report a reset as the connection's end.
    {"ResetBetweenPackets",
     {},
     true,
     "broke the connection (socket error 10054)|closed the connection"},
    {"ClosedInsideTheHeader", Prefix(PacketHeader(40, 1), 10), false, "closed the connection"},
    {"ClosedInsideTheBody", Concat(PacketHeader(40, 1), Bytes(10, 0)), false,
     "closed the connection"},
};

class BrokenStream : public testing::TestWithParam<BreakCase> {};

TEST_P(BrokenStream, IsReportedAsALostLink) {
  const BreakCase &c = GetParam();
  StationLink link;
  ASSERT_TRUE(link.connected());
  LogCapture log;
  if (!c.before.empty()) {
    ASSERT_TRUE(link.Send(c.before));
  }
  link.Close(c.reset);
  Outcome outcome = Process(link);
  EXPECT_EQ(outcome.result, 0);
  EXPECT_TRUE(outcome.linkLost);
  std::vector<std::string> lines = log.Texts();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "DEVADO: ProcessMessages() Countnet Sent Corrupt Packet");
  const std::string prefix = "DEVADO: ProcessMessages() Station 1 ";
  ASSERT_EQ(lines[1].rfind(prefix, 0), 0u) << lines[1];
  // `c.cause` lists the causes a platform may give, separated by '|'.
  std::string cause = lines[1].substr(prefix.size());
  EXPECT_NE(("|" + std::string(c.cause) + "|").find("|" + cause + "|"), std::string::npos)
      << lines[1];
}

INSTANTIATE_TEST_SUITE_P(ProcessMessages, BrokenStream, testing::ValuesIn(kBreakCases),
                         [](const testing::TestParamInfo<BreakCase> &info) {
                           return std::string(info.param.name);
                         });

TEST(ProcessMessages, APacketThatStallsIsGivenUpAsALostLink) {
  StationLink link;
  ASSERT_TRUE(link.connected());
  LogCapture log;
  ASSERT_TRUE(link.Send(Concat(PacketHeader(40, 1), Bytes(4, 0))));
  Outcome outcome = Process(link);  // waits for the missing bytes, about 2 s
  EXPECT_EQ(outcome.result, 0);
  EXPECT_TRUE(outcome.linkLost);
  EXPECT_EQ(log.Texts(),
            (std::vector<std::string>{
                "DEVADO: ProcessMessages() Countnet Sent Corrupt Packet",
                "DEVADO: ProcessMessages() Station 1 sent a packet that was not complete within "
                "2 s"}));
}

}  // namespace
