// The whole road through OxaMain: driver information, cold start, tags, data, reads and
// writes, driver end, with simulated stations on loopback addresses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "countnet/codecs.h"
#include "tests/support/driver_instance.h"

namespace {

using namespace testing_support;

constexpr int kGenerousMs = 20000;
constexpr int kInstance = 7;

bool Contains(const std::vector<std::string> &lines, const std::string &line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

SampleRecord Sample(std::vector<std::int32_t> counts, std::uint8_t flags) {
  SampleRecord record;
  std::memset(&record, 0, sizeof record);
  record.channelCount = static_cast<std::uint8_t>(counts.size());
  record.sampleVolume.Set(2832);
  record.statusFlags = flags;
  for (std::size_t i = 0; i < counts.size(); ++i) record.channelCounts[i].Set(counts[i]);
  return record;
}

class Road : public testing::Test {
 protected:
  void SetUp() override {
    HevCtlReset();
    for (int i = 0; i < 2; ++i) {
      sim::Options options = StationOptions(i + 1, 600000);  // samples only when pushed
      stations_[i] = std::make_unique<sim::Station>(options);
      ASSERT_TRUE(stations_[i]->Start());
    }
    driver_.WriteInitFile(10, {{1, TestAddress(1)}, {2, TestAddress(2)}, {3, TestAddress(3)}});
    for (int channel = 0; channel < 3; ++channel) {
      driver_.DefineGate(100 + channel, ChannelTag(1, channel), kHevGateFloat);
    }
    driver_.DefineGate(150, AirFlowTag(1), kHevGateSigned16);
    driver_.DefineGate(200, ChannelTag(2, 0), kHevGateFloat);
  }

  DriverInstance driver_{kInstance};
  std::unique_ptr<sim::Station> stations_[2];
};

TEST_F(Road, FromColdStartThroughTagsAndDataToDriverEnd) {
  LogCapture log;
  unsigned char info[32] = {};
  ASSERT_EQ(Send(nullptr, 14, info), 0);

  ASSERT_EQ(driver_.ColdStart(1, 50), 0);
  EXPECT_EQ(driver_.block()->receiveTimeoutMs.Get(), 500);
  std::uint8_t client = 0;
  EXPECT_EQ(HevCtlFindClient("DOV_DRIVER07", &client), 0);
  std::vector<std::string> lines = log.Texts();
  EXPECT_TRUE(Contains(lines, "DEVADO07: ReadInitFile() Setting Update Rate for tags to 10 Secs"));
  EXPECT_TRUE(Contains(
      lines, "OxaDOV7: InitFms() Failed to connect to PLC 03 I.P. addr " + TestAddress(3)));
  EXPECT_EQ(driver_.block()->stations[3].socket.Load(), kNoSocket);

  // Tags: accepted ones arm their stations; refused ones say why.
  int station = 0, channel = 0;
  EXPECT_EQ(driver_.Parse("001F0000", 100, kHevGateFloat, &station, &channel), 0);
  EXPECT_EQ(station, 1);
  EXPECT_EQ(channel, 0);
  EXPECT_EQ(driver_.Parse("001f0001", 101, kHevGateFloat, &station, &channel), 0);
  EXPECT_EQ(channel, 1);
  EXPECT_EQ(driver_.Parse("001F0002", 102, kHevGateFloat), 0);
  EXPECT_EQ(driver_.Parse("002F0000", 200, kHevGateFloat), 0);
  EXPECT_EQ(driver_.Parse("001AIR_FLOW", 150, kHevGateSigned16), 0);
  EXPECT_EQ(driver_.Parse("003F0000", 300, kHevGateFloat), 0);  // configured, not connected
  EXPECT_EQ(driver_.block()->channelGateFlags[300].Load(), 1);
  EXPECT_TRUE(
      sim::WaitUntil([&] { return ConfigurationsReceived(*stations_[0]) == 3; }, kGenerousMs));
  EXPECT_TRUE(
      sim::WaitUntil([&] { return ConfigurationsReceived(*stations_[1]) == 1; }, kGenerousMs));

  // Data: a known sample becomes the known normalized differentials.
  ASSERT_TRUE(stations_[0]->SendBytes(sim::SamplePacket(Sample({100, 40, 10}, 0x0F))));
  ASSERT_TRUE(HevWaitUntil([] { return DriverInstance::GateValue(150) == 1.0; }, kGenerousMs));
  EXPECT_FLOAT_EQ(static_cast<float>(DriverInstance::GateValue(100)), 17.655367f);
  EXPECT_FLOAT_EQ(static_cast<float>(DriverInstance::GateValue(101)), 10.593221f);
  EXPECT_FLOAT_EQ(static_cast<float>(DriverInstance::GateValue(102)), 3.531073f);
  ASSERT_TRUE(stations_[0]->SendBytes(sim::SamplePacket(Sample({5}, 0x0C))));
  ASSERT_TRUE(HevWaitUntil(
      [&] {
        return Contains(log.Texts(),
                        "DEVADO: ProcessMessages() Device 1 - Countnet Flow rate Fail");
      },
      kGenerousMs));
  EXPECT_TRUE(Contains(log.Texts(), "DEVADO: ProcessMessages() Device 1 - Countnet Laser Fail"));
  EXPECT_EQ(DriverInstance::GateValue(150), 0.0);
  EXPECT_FLOAT_EQ(static_cast<float>(DriverInstance::GateValue(100)), 1.7655367f);

  // Reads answer from the host's database; writes send nothing.
  float value = 0;
  EXPECT_EQ(driver_.Read(kCommandSingleRead, "001F0000", 1, &value), 0);
  EXPECT_FLOAT_EQ(value, 1.7655367f);
  EXPECT_EQ(driver_.Read(kCommandSingleRead, "003F0000", 3, &value), 1);
  EXPECT_EQ(driver_.Read(kCommandSingleWrite, "001F0000", 1), 0);
  EXPECT_EQ(driver_.Read(kCommandSingleWrite, "003F0000", 3), 2);
  EXPECT_EQ(driver_.Read(kCommandSingleReadCheck, "001F0000", 1), 1);
  EXPECT_EQ(driver_.Read(kCommandBlockRead, "001F0000", 1), 1);
  EXPECT_EQ(driver_.BlockParse("001F0000"), 1);

  // Driver end: one leaving message to each connected station, then the end of the stream.
  for (auto &s : stations_) s->ClearReceived();
  EXPECT_EQ(driver_.EndOxa(), 0);
  for (auto &s : stations_) {
    EXPECT_TRUE(sim::WaitUntil([&] { return !s->IsConnected(); }, kGenerousMs));
    std::vector<sim::Packet> received = s->Received();
    ASSERT_EQ(received.size(), 1u);
    ASSERT_EQ(received[0].messages.size(), 1u);
    EXPECT_EQ(received[0].messages[0].type, kMessageDriverEnd);
  }
  EXPECT_NE(HevCtlFindClient("DOV_DRIVER07", &client), 0);
  EXPECT_EQ(log.Texts().back(), "OXAWNCNT: returning from EndOxa()");
}

struct RefusedTag {
  const char *address;
  int gateType;
  std::vector<std::string> log;
};

TEST_F(Road, RefusedTagsSayWhy) {
  ASSERT_EQ(driver_.ColdStart(), 0);
  const std::string tooLong(40, '1');
  const RefusedTag cases[] = {
      {"001F0003",
       kHevGateSigned16,
       {"DEVADO: ParseAddress() Failed. Tag '001F0003' Type must be 'float'"}},
      {"004F0001",
       kHevGateFloat,
       {"DEVADO: SingleParse() failed. Tag '004F0001' Station 4 not defined in Init file"}},
      {"000F0001",
       kHevGateFloat,
       {"DEVADO: SingleParse() failed. Illegal PLC Address in Tag '000F0001'"}},
      {"256F0001",
       kHevGateFloat,
       {"DEVADO: SingleParse() failed. Illegal PLC Address in Tag '256F0001'"}},
      {"1F00001",
       kHevGateFloat,
       {"DEVADO: SingleParse() failed. Illegal PLC Address in Tag '1F00001'"}},
      {"001G0003",
       kHevGateFloat,
       {"DEVADO: ParseAddress() Failed. Tag '001G0003' invalid address"}},
      {"001F003",
       kHevGateFloat,
       {"DEVADO: ParseAddress() Failed. Tag address string '001F003' too long"}},
      {"001F00003",
       kHevGateFloat,
       {"DEVADO: ParseAddress() Failed. Tag address string '001F00003' too long"}},
      {tooLong.c_str(),
       kHevGateFloat,
       {"DEVADO: ParseAddress() Failed. Tag address string '" + tooLong + "' too long"}},
      {"001AIR_FLOW",
       kHevGateFloat,
       {"DEVADO: SingleParse() error. Tag '001AIR_FLOW' must be 'Signed 16' or 'Unsigned 16'"}},
      {"001air_flow",
       kHevGateSigned16,
       {"DEVADO: SingleParse() error. Invalid Air Flow Tag address '001air_flow'",
        "DEVADO: SingleParse() Please define Air Flow Tag address '001AIR_FLOW'"}},
  };
  for (const RefusedTag &c : cases) {
    LogCapture log;
    EXPECT_EQ(driver_.Parse(c.address, 400, c.gateType), 1) << c.address;
    EXPECT_EQ(log.Texts(), c.log) << c.address;
  }
  int station = -1, channel = -1;
  EXPECT_EQ(driver_.Parse("001F012X", 401, kHevGateFloat, &station, &channel), 0);
  EXPECT_EQ(channel, 12);
  EXPECT_EQ(driver_.block()->channelGateFlags[400].Load(), 0) << "refused tags arm nothing";
  EXPECT_EQ(driver_.Parse("001F0001", 70000, kHevGateFloat), 0) << "no flag beyond the table";
}

TEST(Installation, ColdStartAndEndWithoutRunningSayExactlyThat) {
  HevCtlReset();
  DriverInstance driver(2);
  LogCapture log;
  EXPECT_EQ(driver.ColdStart(0), 0);
  EXPECT_EQ(driver.EndOxa(), 0);
  EXPECT_EQ(log.Texts(), (std::vector<std::string>{
                             "DEVADO> version compiled on Feb 15 2001 at time 15:56:03",
                             "DEVADO: Entering EndOxa()",
                             "DEVADO: EndOxa() called during driver installation. returning "
                             "NO_ERROR"}));
  EXPECT_EQ(HevCtlClientCount(), 0);
  EXPECT_EQ(HevCtlCommStatusCount(), 0);
}

}  // namespace
