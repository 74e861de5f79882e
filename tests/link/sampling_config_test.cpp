// Sampling configuration as the station receives it, and the re-arm after a reconnect.
#include <gtest/gtest.h>

#include <cstring>

#include "contracts/dov_pakt.h"
#include "countnet/codecs.h"
#include "hevpro/hevpro_control.h"
#include "link/sampling_config.h"
#include "link/station_objects.h"
#include "tests/support/station_link.h"

namespace {

using testing_support::kLinkStation;
using testing_support::LogCapture;
using testing_support::StationLink;

constexpr int kGenerousMs = 10000;

struct Configuration {
  std::uint16_t type11 = 0, controlType = 0xFFFF;
  std::uint32_t field106 = 0, field107 = 0;
  int decodeResult = -1;
  std::vector<unsigned char> field129;
};

// Reads one packet from the station's end and decodes the two messages it must hold.
Configuration ReceiveConfiguration(StationLink &link) {
  Configuration c;
  std::vector<unsigned char> header = link.Receive(18, kGenerousMs);
  if (header.size() < 18) return c;
  std::int32_t total;
  std::memcpy(&total, header.data() + 12, 4);
  std::vector<unsigned char> packet = header;
  std::vector<unsigned char> body = link.Receive(static_cast<std::size_t>(total) - 18, kGenerousMs);
  packet.insert(packet.end(), body.begin(), body.end());
  if (packet.size() != static_cast<std::size_t>(total) || packet[16] != 2) return c;

  void *config = pvPktGetNextMessagePointer(packet.data(), nullptr);
  void *control = pvPktGetNextMessagePointer(packet.data(), config);
  c.type11 = wMsgGetMessageType(config);
  SamplePointConfig record;
  c.decodeResult = iConfigGetSamplePointConfig(config, 0, &record);
  c.field106 = record.id106Value.Get();
  c.field107 = record.id107Value.Get();
  c.controlType = wMsgGetMessageType(control);
  std::uint16_t field = wMsgGetFieldByID(control, kFieldControlCommand, wMsgGetFirstField(control));
  const auto *data = static_cast<const unsigned char *>(pvMsgGetField(control, field));
  if (data != nullptr) c.field129.assign(data, data + wMsgGetFieldLength(control, field));
  return c;
}

TEST(SamplingConfig, TheStationGetsTheRateAndTheStartCommandInOnePacket) {
  const struct {
    std::uint16_t rate;
    std::uint32_t field106, field107;
  } cases[] = {{1, 100, 500}, {10, 1000, 5000}, {1000, 100000, 500000}};
  for (const auto &rate : cases) {
    StationLink link;
    ASSERT_TRUE(link.connected());
    link.SetUpdateRate(rate.rate);
    EnsureStationObjects(link.state(), kLinkStation);
    LogCapture log;

    SetupSamplingConfig(link.block(), kLinkStation, "001F0003");

    Configuration c = ReceiveConfiguration(link);
    EXPECT_EQ(c.type11, kMessageSamplePointConfig);
    EXPECT_EQ(c.decodeResult, 0);
    EXPECT_EQ(c.field106, rate.field106);
    EXPECT_EQ(c.field107, rate.field107);
    EXPECT_EQ(c.controlType, 0) << "a cleared message keeps type 0";
    EXPECT_EQ(c.field129, (std::vector<unsigned char>{1, 0, 0, 0}));
    EXPECT_EQ(log.Texts(), (std::vector<std::string>{
                               "DEVADO: SendPacket(). Packet '' sent successfully",
                               "DEVADO: SetupSamplingConfig() Configuring sampling for Tag "
                               "'001F0003' successful"}));
  }
}

// A connection on which a packet went out only in part is out of step with the station:
// until the receiving thread fails it, nothing more may go out on it.
TEST(SamplingConfig, AStationThatIsNotConnectedOrWhoseLinkBrokeIsOnlyLogged) {
  for (bool broken : {false, true}) {
    SCOPED_TRACE(broken ? "a send broke the link" : "not connected");
    StationLink link;
    ASSERT_TRUE(link.connected());
    EnsureStationObjects(link.state(), kLinkStation);
    ::StationLink &station = link.state().stations[kLinkStation];
    if (broken) {
      ::StationLink::Send(station).Broken();
    } else {
      station.Retire();
    }
    LogCapture log;
    SetupSamplingConfig(link.block(), kLinkStation, "001F0003");
    EXPECT_EQ(log.Texts(), std::vector<std::string>{
                               "DEVADO: SetupSamplingConfig() Could not configure sampling for "
                               "Tag '001F0003'. Socket not connected"});
    if (broken) {
      EXPECT_TRUE(link.Receive(1, 300).empty()) << "something was sent";
    }
  }
}

TEST(SamplingConfig, ReArmingSendsOnePacketPerArmedChannelGateOfThisInstanceAndStation) {
  StationLink link;
  ASSERT_TRUE(link.connected());
  EnsureStationObjects(link.state(), kLinkStation);
  // The link's own gates 100.. are 001F0000..; these add the cases that must not count.
  HevCtlDefineGate(300, "001f0007", kHevGateFloat, 0);  // lower-case channel tag: armed
  HevCtlDefineGate(301, "002F0001", kHevGateFloat, 0);  // another station
  HevCtlDefineGate(302, "001F0005", kHevGateFloat, 1);  // another driver instance
  HevCtlDefineGate(303, "001X0002", kHevGateFloat, 0);  // not a channel tag
  HevCtlDefineGate(304, "01F00002", kHevGateFloat, 0);  // station 1, but no F at the 4th
  for (int gate : {100, 102, 200, 300, 301, 302, 303, 304, 305}) {
    link.block()->channelGateFlags[gate].Store(1);  // 200 is 001AIR_FLOW, 305 undefined
  }
  LogCapture log;

  RestoreSamplingConfig(link.state(), kLinkStation);

  for (int packet = 0; packet < 3; ++packet) {
    Configuration c = ReceiveConfiguration(link);
    EXPECT_EQ(c.field106, 1000u) << "packet " << packet;
    EXPECT_EQ(c.field129, (std::vector<unsigned char>{1, 0, 0, 0})) << "packet " << packet;
  }
  std::vector<std::string> configured;
  for (const std::string &line : log.Texts()) {
    if (line.find("SetupSamplingConfig()") != std::string::npos) configured.push_back(line);
  }
  EXPECT_EQ(configured,
            (std::vector<std::string>{
                "DEVADO: SetupSamplingConfig() Configuring sampling for Tag '001F0000' successful",
                "DEVADO: SetupSamplingConfig() Configuring sampling for Tag '001F0002' successful",
                "DEVADO: SetupSamplingConfig() Configuring sampling for Tag '001f0007' successful",
            }));
}

}  // namespace
