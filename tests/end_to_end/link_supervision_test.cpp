// Keeping every station's link alive: silence, broken streams, stations that come up late
// or answer too late, and one station churning beside another that streams.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <vector>

#include "countnet/codecs.h"
#include "link/instance_state.h"
#include "tests/support/driver_instance.h"

namespace {

using namespace testing_support;
using Clock = std::chrono::steady_clock;

constexpr int kGenerousMs = 30000;

int CountLines(const LogCapture &log, const std::string &text) {
  int count = 0;
  for (const std::string &line : log.Texts()) count += line == text;
  return count;
}

class Supervision : public testing::Test {
 protected:
  void SetUp() override { HevCtlReset(); }

  // Starts the driver with stations 1..n at the test's addresses 1..n.
  void StartDriver(int updateRate, int stations) {
    std::vector<std::pair<int, std::string>> entries;
    for (int n = 1; n <= stations; ++n) entries.push_back({n, TestAddress(n)});
    driver_.WriteInitFile(updateRate, entries);
    driver_.UseShortReopenWalk();
    ASSERT_EQ(driver_.ColdStart(), 0);
  }

  // Arms `channels` channel gates of the station (gate ids station*100 + channel).
  void Arm(int station, int channels) {
    for (int channel = 0; channel < channels; ++channel) {
      int gate = station * 100 + channel;
      driver_.DefineGate(gate, ChannelTag(station, channel), kHevGateFloat);
      ASSERT_EQ(driver_.Parse(ChannelTag(station, channel), gate, kHevGateFloat), 0);
    }
  }

  static bool DataFlows(int station, int timeoutMs) {
    unsigned before = 0;
    DriverInstance::GateValue(station * 100, &before);
    return HevWaitUntil(
        [&] {
          unsigned now = 0;
          DriverInstance::GateValue(station * 100, &now);
          return now >= before + 2;
        },
        timeoutMs);
  }

  DriverInstance driver_;
};

TEST_F(Supervision, ASilentStationFailsAfterSixPeriodsAndComesBackArmed) {
  sim::Station station(StationOptions(1, 200));
  ASSERT_TRUE(station.Start());
  StartDriver(1, 1);
  Arm(1, 2);
  ASSERT_TRUE(DataFlows(1, kGenerousMs));
  std::int32_t socket = driver_.block()->stations[1].socket.Load();
  LogCapture log;

  // From here on the station receives only what the re-arming sends; it may come as soon
  // as the failure is reported.
  station.ClearReceived();
  station.SetFault(sim::FaultMode::kSilent);
  auto silentFrom = Clock::now();
  ASSERT_TRUE(driver_.WaitForStatus(1, {1}, kGenerousMs));
  double silence = std::chrono::duration<double>(Clock::now() - silentFrom).count();
  // Six periods of one second, counted in whole seconds from the last data (which may lie
  // one sample period before or one pass after the fault began).
  EXPECT_GT(silence, 5.7);
  EXPECT_LT(silence, 8.5);

  station.SetFault(sim::FaultMode::kNone);
  ASSERT_TRUE(driver_.WaitForStatus(1, {1, 0}, kGenerousMs));
  EXPECT_TRUE(DataFlows(1, kGenerousMs));
  EXPECT_EQ(ConfigurationsReceived(station), 2) << "one configuration per armed gate";
  EXPECT_EQ(driver_.StatusReports(1), (std::vector<int>{1, 0}));
  const std::string address = TestAddress(1);
  EXPECT_EQ(CountLines(log, "OxaDOV01: Comms Fail. Station 1 IP Addr " + address +
                                ". Closing Socket " + std::to_string(socket)),
            1);
  EXPECT_GE(CountLines(log, "OxaDOV1: SocketsReOpenThread() reconnecting PLC 1 IP Addr " + address),
            1);
  EXPECT_EQ(CountLines(log, "OxaDOV1: SocketsReOpenThread() PLC 1 IP Addr " + address +
                                " reconnected successfully"),
            1);
}

// A station whose firmware hangs with its network stack alive: it accepts every
// reconnection and sends nothing. It stays failed, with no restored report until it talks.
TEST_F(Supervision, AStationThatAcceptsAndStaysSilentIsNotRestoredUntilItSends) {
  sim::Station station(StationOptions(1, 200));
  ASSERT_TRUE(station.Start());
  StartDriver(1, 1);
  Arm(1, 1);
  ASSERT_TRUE(DataFlows(1, kGenerousMs));
  station.SetFault(sim::FaultMode::kSilent);
  ASSERT_TRUE(driver_.WaitForStatus(1, {1}, kGenerousMs));
  int connections = station.Connections();
  // Two reconnections, each kept silent for six periods.
  ASSERT_TRUE(
      sim::WaitUntil([&] { return station.Connections() >= connections + 2; }, 2 * kGenerousMs));
  EXPECT_EQ(driver_.StatusReports(1), std::vector<int>{1});

  station.SetFault(sim::FaultMode::kNone);
  ASSERT_TRUE(driver_.WaitForStatus(1, {1, 0}, kGenerousMs));
  EXPECT_TRUE(DataFlows(1, kGenerousMs));
  EXPECT_EQ(driver_.StatusReports(1), (std::vector<int>{1, 0}));
}

// A station that drops every connection at once is tried again and again, as recovery
// needs, but the host's log hears of its attempts at the old pace only (once per 26.6 s).
TEST_F(Supervision, AStationThatStaysAwayIsTriedOftenAndLoggedSeldom) {
  sim::Station station(StationOptions(1, 200));
  ASSERT_TRUE(station.Start());
  LogCapture log;
  driver_.WriteInitFile(1, {{1, TestAddress(1)}});
  driver_.UseShortReopenWalk();
  PresetTiming(driver_.block()).reopenLogEveryMs = 26600;
  ASSERT_EQ(driver_.ColdStart(), 0);
  ASSERT_TRUE(sim::WaitUntil([&] { return station.Connections() >= 1; }, kGenerousMs));
  station.SetFault(sim::FaultMode::kCloseAfter, 0);
  station.DropConnection(false);
  ASSERT_TRUE(sim::WaitUntil([&] { return station.Connections() >= 8; }, kGenerousMs));

  const std::string address = TestAddress(1);
  EXPECT_EQ(CountLines(log, "OxaDOV1: SocketsReOpenThread() reconnecting PLC 1 IP Addr " + address),
            1);
  EXPECT_EQ(driver_.StatusReports(1), std::vector<int>{1}) << "failed once, never restored";
  station.SetFault(sim::FaultMode::kNone);
  EXPECT_TRUE(driver_.WaitForStatus(1, {1, 0}, kGenerousMs));
}

// A station whose connects never complete, as behind a router that drops packets: a
// listener whose one-place backlog is filled by a connection of our own, and that never
// accepts. It needs no thread, so that dozens of them fit beside the simulated stations.
struct DeadStation {
  explicit DeadStation(const std::string &address)
      : listener(address, 0), filler(ConnectTo(address, kGenerousMs)) {}
  ~DeadStation() {
    if (filler != INVALID_SOCKET) win::closesocket(filler);
  }
  Listener listener;
  win::SOCKET filler;
};

// Stations that do not answer at all cost the others nothing but one shared window: a
// station beside thirty of them, and every station after an outage of all, is back within
// a few seconds, where a walk from one station to the next took half a second for each
// unreachable one ahead of it.
TEST_F(Supervision, UnreachableStationsHoldUpNoStationThatCanBeReached) {
  struct Case {
    const char *name;
    int dead;        // stations 1..dead never answer
    int recovering;  // the stations after them, which come back
    bool outage;     // those are unreachable too at first
  };
  WinsockSession winsock;
  for (const Case &c : {Case{"one station beside thirty dead ones", 30, 1, false},
                        Case{"twenty stations after an outage of all forty", 20, 20, true}}) {
    SCOPED_TRACE(c.name);
    HevCtlReset();
    int count = c.dead + c.recovering;
    std::vector<std::unique_ptr<DeadStation>> dead;
    for (int n = 1; n <= c.dead; ++n) {
      dead.push_back(std::make_unique<DeadStation>(TestAddress(n)));
      ASSERT_TRUE(dead.back()->listener.ok());
      ASSERT_NE(dead.back()->filler, INVALID_SOCKET);
    }
    std::vector<std::unique_ptr<sim::Station>> stations;
    std::vector<int> back;
    for (int n = c.dead + 1; n <= count; ++n) {
      sim::Options options = StationOptions(n, 200);
      if (c.outage) options.fault = sim::FaultMode::kLate;
      stations.push_back(std::make_unique<sim::Station>(options));
      ASSERT_TRUE(stations.back()->Start());
      back.push_back(n);
    }
    DriverInstance driver;
    LogCapture log;
    std::vector<std::pair<int, std::string>> entries;
    for (int n = 1; n <= count; ++n) entries.push_back({n, TestAddress(n)});
    driver.WriteInitFile(1, entries);
    driver.UseShortReopenWalk();
    ASSERT_EQ(driver.ColdStart(), 0);
    for (int n : back) {
      driver.DefineGate(n * 100, ChannelTag(n, 0), kHevGateFloat);
      ASSERT_EQ(driver.Parse(ChannelTag(n, 0), n * 100, kHevGateFloat), 0);
    }
    if (c.outage) {
      // The re-open thread has tried every station twice when the network returns.
      std::string retry = "OxaDOV1: SocketsReOpenThread() Failed to reconnect PLC " +
                          std::to_string(count) + " IP Addr " + TestAddress(count);
      ASSERT_TRUE(HevWaitUntil([&] { return CountLines(log, retry) >= 2; }, kGenerousMs));
      for (auto &station : stations) station->SetFault(sim::FaultMode::kNone);
    } else {
      for (int n : back) ASSERT_TRUE(DataFlows(n, kGenerousMs));
      for (auto &station : stations) station->DropConnection(true);
    }
    auto from = Clock::now();
    std::vector<unsigned> before(back.size());
    for (std::size_t i = 0; i < back.size(); ++i) {
      DriverInstance::GateValue(back[i] * 100, &before[i]);
    }
    ASSERT_TRUE(HevWaitUntil(
        [&] {
          for (std::size_t i = 0; i < back.size(); ++i) {
            unsigned now = 0;
            DriverInstance::GateValue(back[i] * 100, &now);
            if (now < before[i] + 2) return false;
          }
          return true;
        },
        kGenerousMs));
    double took = std::chrono::duration<double>(Clock::now() - from).count();
    EXPECT_LT(took, 8.0) << "the last station delivered after " << took << " s";
    EXPECT_EQ(driver.EndOxa(), 0);
  }
}

TEST_F(Supervision, AStationThatClosesOrResetsFailsAtOnceAndComesBack) {
  sim::Station closing(StationOptions(1, 100)), resetting(StationOptions(2, 100));
  ASSERT_TRUE(closing.Start());
  ASSERT_TRUE(resetting.Start());
  StartDriver(10, 2);  // a silence would take a minute to notice
  Arm(1, 1);
  Arm(2, 1);
  ASSERT_TRUE(DataFlows(1, kGenerousMs));
  ASSERT_TRUE(DataFlows(2, kGenerousMs));
  LogCapture log;

  closing.DropConnection(false);
  resetting.DropConnection(true);
  ASSERT_TRUE(driver_.WaitForStatus(1, {1, 0}, kGenerousMs));
  ASSERT_TRUE(driver_.WaitForStatus(2, {1, 0}, kGenerousMs));
  EXPECT_TRUE(DataFlows(1, kGenerousMs));
  EXPECT_TRUE(DataFlows(2, kGenerousMs));
  EXPECT_EQ(CountLines(log, "DEVADO: ProcessMessages() Countnet Sent Corrupt Packet"), 2)
      << "one line for each broken stream, no flood";
}

TEST_F(Supervision, AStationThatComesUpLateIsConnectedAndNotFailedAtFirstSight) {
  sim::Options options = StationOptions(1, 200);
  options.fault = sim::FaultMode::kRefuse;
  sim::Station station(options);
  ASSERT_TRUE(station.Start());
  auto started = Clock::now();
  StartDriver(1, 1);
  Arm(1, 1);  // accepted while the station is away, armed when it comes
  // Longer than six periods after the receiving thread started.
  HevWaitUntil([&] { return Clock::now() - started > std::chrono::seconds(8); }, kGenerousMs);

  station.SetFault(sim::FaultMode::kNone);
  ASSERT_TRUE(DataFlows(1, kGenerousMs));
  ASSERT_TRUE(DataFlows(1, kGenerousMs));
  EXPECT_TRUE(driver_.StatusReports(1).empty());
}

TEST_F(Supervision, AStationThatAnswersTooLateIsRetriedUntilItAnswers) {
  sim::Options options = StationOptions(1, 200);
  options.fault = sim::FaultMode::kLate;
  sim::Station station(options);
  ASSERT_TRUE(station.Start());
  LogCapture log;
  StartDriver(1, 1);
  std::string retry =
      "OxaDOV1: SocketsReOpenThread() Failed to reconnect PLC 1 IP Addr " + TestAddress(1);
  ASSERT_TRUE(HevWaitUntil([&] { return CountLines(log, retry) >= 2; }, kGenerousMs));
  EXPECT_EQ(driver_.block()->stations[1].socket.Load(), kNoSocket);

  station.SetFault(sim::FaultMode::kNone);
  Arm(1, 1);
  EXPECT_TRUE(DataFlows(1, kGenerousMs));
}

TEST_F(Supervision, ChurningStationLeavesItsStreamingNeighbourAlone) {
  int descriptors = OpenDescriptors(), threads = ThreadCount();
  {
    sim::Station churning(StationOptions(1, 100)), streaming(StationOptions(2, 100));
    ASSERT_TRUE(churning.Start());
    ASSERT_TRUE(streaming.Start());
    StartDriver(10, 2);
    Arm(1, 1);
    Arm(2, 1);
    ASSERT_TRUE(DataFlows(2, kGenerousMs));
    for (int cycle = 1; cycle <= 5; ++cycle) {
      std::vector<int> expected;
      for (int i = 0; i < cycle; ++i) expected.insert(expected.end(), {1, 0});
      churning.DropConnection(cycle % 2 == 0);
      ASSERT_TRUE(driver_.WaitForStatus(1, expected, kGenerousMs)) << "cycle " << cycle;
    }
    // Every sample of the streaming station reached its gate, and only its own
    // configuration reached it.
    streaming.SetFault(sim::FaultMode::kSilent);
    int sent = streaming.SamplesSent();
    unsigned writes = 0;
    EXPECT_TRUE(HevWaitUntil(
        [&] {
          DriverInstance::GateValue(200, &writes);
          return static_cast<int>(writes) == sent;
        },
        kGenerousMs))
        << writes << " gate writes for " << sent << " samples";
    EXPECT_EQ(ConfigurationsReceived(streaming), 1);
    EXPECT_TRUE(driver_.StatusReports(2).empty());
    EXPECT_EQ(driver_.EndOxa(), 0);
  }
  EXPECT_EQ(OpenDescriptors(), descriptors);
  EXPECT_TRUE(HevWaitUntil([&] { return ThreadCount() == threads; }, kGenerousMs));
}

}  // namespace
