// Warm start, driver end and the lifecycle of whole instances.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "contracts/host_runtime.h"
#include "countnet/codecs.h"
#include "link/instance_state.h"
#include "tests/support/driver_instance.h"
#include "tests/support/loopback.h"

namespace {

using namespace testing_support;

constexpr int kGenerousMs = 30000;

bool Contains(const std::vector<std::string> &lines, const std::string &line) {
  for (const std::string &l : lines) {
    if (l == line) return true;
  }
  return false;
}

class Lifecycle : public testing::Test {
 protected:
  void SetUp() override { HevCtlReset(); }
};

TEST_F(Lifecycle, WarmStartReconnectsAConnectedStationAndReportsAnUnreachableOne) {
  sim::Station station(StationOptions(1));
  ASSERT_TRUE(station.Start());
  DriverInstance driver;
  driver.WriteInitFile(10, {{1, TestAddress(1)}, {2, TestAddress(2)}});
  ASSERT_EQ(driver.ColdStart(), 0);
  // The kernel completes a connection before the station takes it.
  ASSERT_TRUE(sim::WaitUntil([&] { return station.Connections() == 1; }, kGenerousMs));

  LogCapture log;
  EXPECT_EQ(driver.WarmStart(1), 0);
  EXPECT_TRUE(sim::WaitUntil([&] { return station.Connections() == 2; }, kGenerousMs));
  EXPECT_NE(driver.block()->stations[1].socket.Load(), kNoSocket);
  std::vector<std::string> lines = log.Texts();
  EXPECT_EQ(lines.front(), "OxaDOV1: WarmStart() PLC 1");
  EXPECT_TRUE(
      Contains(lines, "OxaDOV1: WarmStart() reconnecting PLC 1 TCP/IP Address " + TestAddress(1)));
  EXPECT_EQ(lines.back(), "OxaDOV1: WarmStart() PLC 1 TCP/IP Address " + TestAddress(1) +
                              " reconnected successfully");

  LogCapture unreachable;
  EXPECT_EQ(driver.WarmStart(2), 1);
  EXPECT_EQ(driver.block()->stations[2].socket.Load(), kNoSocket);
  lines = unreachable.Texts();
  EXPECT_TRUE(Contains(lines, "OxaDOV1: WarmStart() PLC 2 Closing socket failed status = -1"));
  EXPECT_EQ(lines.back(),
            "OxaDOV1: WarmStart() Failed to reconnect PLC 2 TCP/IP Address " + TestAddress(2));
  EXPECT_EQ(driver.WarmStart(256), 1) << "no such station";
}

TEST_F(Lifecycle, UnsupportedCommandsAreRefusedWhileRunning) {
  sim::Station station(StationOptions(1));
  ASSERT_TRUE(station.Start());
  DriverInstance driver;
  driver.WriteInitFile(10, {{1, TestAddress(1)}});
  ASSERT_EQ(driver.ColdStart(), 0);
  std::int32_t socket = driver.block()->stations[1].socket.Load();
  for (std::int32_t code : {12, 13}) {
    LogCapture log;
    unsigned char params[64] = {};
    EXPECT_EQ(Send(driver.block(), code, params), 2) << "code " << code;
    EXPECT_TRUE(log.Lines().empty()) << "code " << code;
    for (unsigned char b : params) ASSERT_EQ(b, 0) << "code " << code;
  }
  EXPECT_EQ(driver.block()->stations[1].socket.Load(), socket);
  EXPECT_TRUE(sim::WaitUntil([&] { return station.Connections() == 1; }, kGenerousMs));
}

TEST_F(Lifecycle, AfterDriverEndNothingOfTheDriverRunsOrTouchesTheBlock) {
  int descriptors = OpenDescriptors(), threads = ThreadCount();
  sim::Station station(StationOptions(1, 50));
  ASSERT_TRUE(station.Start());
  auto winsock = std::make_unique<WinsockSession>();
  // Station 2 never answers (a full backlog), so the re-open thread holds its connect
  // open between rounds when the driver ends: that socket must go as well.
  auto unreachable = std::make_unique<Listener>(TestAddress(2), 0);
  win::SOCKET filler = ConnectTo(TestAddress(2), kGenerousMs);
  ASSERT_NE(filler, INVALID_SOCKET);
  auto driver = std::make_unique<DriverInstance>();
  driver->WriteInitFile(1, {{1, TestAddress(1)}, {2, TestAddress(2)}});
  driver->UseShortReopenWalk();
  PresetTiming(driver->block()).reopenRetryMs = 5000;  // a round's connect is then held
  ASSERT_EQ(driver->ColdStart(), 0);
  auto started = std::chrono::steady_clock::now();
  driver->DefineGate(100, ChannelTag(1, 0), kHevGateFloat);
  ASSERT_EQ(driver->Parse(ChannelTag(1, 0), 100, kHevGateFloat), 0);
  ASSERT_TRUE(HevWaitUntil([] { return DriverInstance::GateValue(100) != 0; }, kGenerousMs));
  // Past the first round's window (start delay and 500 ms), before the next round.
  HevWaitUntil([&] { return std::chrono::steady_clock::now() - started > std::chrono::seconds(2); },
               kGenerousMs);

  LogCapture log;
  EXPECT_EQ(driver->EndOxa(), 0);
  // The receiving thread ends once the host client is gone, the re-open thread on the
  // private signal, and EndOxa's last line follows both.
  std::vector<std::string> lines = log.Texts();
  auto at = [&](const std::string &line) {
    return std::find(lines.begin(), lines.end(), line) - lines.begin();
  };
  auto disconnect = at("OxaDOV1: EndOxa() Disconnecting PLC 1 TCP/IP Address " + TestAddress(1));
  auto shutdown = at("OxaDOV01: Shutdown INCOMING_MESSAGES_Thread()");
  auto closing = at("OxaDOV01: Closing SocketsReOpenThread()");
  auto last = at("OXAWNCNT: returning from EndOxa()");
  EXPECT_LT(disconnect, shutdown);
  EXPECT_LT(shutdown, last);
  EXPECT_LT(closing, last);
  EXPECT_EQ(last, static_cast<long>(lines.size()) - 1);
  EXPECT_TRUE(sim::WaitUntil([&] { return !station.IsConnected(); }, kGenerousMs));
  EXPECT_EQ(HevCtlClientCount(), 0);
  // The driver's threads end as EndOxa returns; the system lets them go a moment later.
  int expected = threads < 0 ? -1 : threads + 1;  // the station's own thread stays
  EXPECT_TRUE(HevWaitUntil([&] { return ThreadCount() == expected; }, kGenerousMs));
  // The host may reuse the block at once; no driver thread may notice.
  std::memset(driver->block(), 0xFF, kInstanceBlockSize);
  unsigned writes = 0;
  DriverInstance::GateValue(100, &writes);
  HevWaitUntil([] { return false; }, 3000);  // time for a stray thread to show itself
  unsigned later = 0;
  DriverInstance::GateValue(100, &later);
  EXPECT_EQ(later, writes);
  const auto *bytes = reinterpret_cast<const unsigned char *>(driver->block());
  EXPECT_EQ(std::count(bytes, bytes + kInstanceBlockSize, 0xFF), kInstanceBlockSize)
      << "a driver thread wrote into the block after driver end";
  driver.reset();
  station.Stop();
  win::closesocket(filler);
  unreachable.reset();
  winsock.reset();
  EXPECT_EQ(OpenDescriptors(), descriptors);
}

// Fills each connection until the driver's side would block, as when its station does not
// read: rounds over all of them until two rounds in a row find no room.
void FillUntilFull(const std::vector<win::SOCKET> &driverSides) {
  std::vector<char> chunk(65536, 'x');
  for (int quiet = 0; quiet < 2; win::Sleep(50)) {
    bool queued = false;
    for (win::SOCKET s : driverSides) {
      while (win::send(s, chunk.data(), static_cast<int>(chunk.size()), 0) > 0) queued = true;
    }
    quiet = queued ? 0 : quiet + 1;
  }
}

// Twenty stations that never read: their goodbyes cannot go out, and they share one window
// instead of queueing one after another ahead of the wait for the threads.
TEST_F(Lifecycle, GoodbyesToStationsThatNeverReadDoNotCostTheThreadsTheirEnd) {
  constexpr int kDeaf = 20;
  WinsockSession winsock;
  std::vector<std::unique_ptr<Listener>> stations;
  std::vector<std::pair<int, std::string>> config;
  for (int n = 1; n <= kDeaf; ++n) {
    stations.push_back(std::make_unique<Listener>(TestAddress(n)));
    ASSERT_TRUE(stations.back()->ok());
    config.emplace_back(n, TestAddress(n));
  }
  DriverInstance driver;
  driver.WriteInitFile(30, config);  // no station is taken for silent before the end
  ASSERT_EQ(driver.ColdStart(), 0);
  std::vector<win::SOCKET> stationSides, driverSides;
  for (int n = 1; n <= kDeaf; ++n) {
    stationSides.push_back(stations[n - 1]->Accept(kGenerousMs));
    ASSERT_NE(stationSides.back(), INVALID_SOCKET) << n;
    int bytes = 16384;  // a size that is set stays put
    win::setsockopt(stationSides.back(), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char *>(&bytes),
                    sizeof bytes);
    driverSides.push_back(static_cast<win::SOCKET>(driver.block()->stations[n].socket.Load()));
    win::setsockopt(driverSides.back(), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<char *>(&bytes),
                    sizeof bytes);
  }
  FillUntilFull(driverSides);

  LogCapture log;
  EXPECT_EQ(driver.EndOxa(), 0);
  std::vector<std::string> lines = log.Texts();
  EXPECT_FALSE(Contains(lines, "OxaDOV1: EndOxa() driver threads did not end in time"));
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "DEVADO: SendPacket() failed"), kDeaf);
  for (int n = 1; n <= kDeaf; ++n) {
    EXPECT_TRUE(Contains(lines, "OxaDOV1: EndOxa() Disconnecting PLC " + std::to_string(n) +
                                    " TCP/IP Address " + TestAddress(n)))
        << n;
  }
  EXPECT_EQ(lines.back(), "OXAWNCNT: returning from EndOxa()");
  for (win::SOCKET s : stationSides) win::closesocket(s);
}

TEST_F(Lifecycle, EndAfterAnEarlyStopReleasesOnlyWhatWasAcquired) {
  testing_support::WinsockSession winsock;
  // A socket of the host's own sits where the block's socket fields will be read.
  Listener hostListener(TestAddress(1));
  win::SOCKET hostSocket = ConnectTo(TestAddress(1), kGenerousMs);
  ASSERT_NE(hostSocket, INVALID_SOCKET);
  win::SOCKET hostPeer = hostListener.Accept(kGenerousMs);

  std::uint8_t taken = 0;
  ASSERT_EQ(HevMkClient("DOV_DRIVER01", 1, 0, &taken), 0);  // the driver's name is in use
  DriverInstance driver;
  for (StationEntry &station : driver.block()->stations) {
    station.socket.Store(static_cast<std::int32_t>(hostSocket));
  }
  driver.block()->socketTableEvent.Set(nullptr);
  EXPECT_EQ(driver.ColdStart(), 2);
  EXPECT_EQ(driver.EndOxa(), 0);
  EXPECT_EQ(HevCtlClientCount(), 1) << "the other client stays";
  EXPECT_EQ(win::send(hostSocket, "x", 1, 0), 1) << "the host's socket is still open";
  char byte = 0;
  EXPECT_EQ(win::recv(hostPeer, &byte, 1, 0), 1);
  win::closesocket(hostSocket);
  win::closesocket(hostPeer);
}

TEST_F(Lifecycle, AColdStartWithoutItsInitFileCanBeRetriedOnceTheFileIsThere) {
  sim::Station station(StationOptions(1));
  ASSERT_TRUE(station.Start());
  DriverInstance driver(7);
  LogCapture log;
  EXPECT_EQ(driver.ColdStart(), 2);
  EXPECT_EQ(log.Texts().back(),
            "DEVADO07: ReadInitFile() File 'DEVADO07.int' not found. Driver not loaded!");
  EXPECT_EQ(HevCtlClientCount(), 0) << "the client is released again";

  driver.WriteInitFile(10, {{1, TestAddress(1)}});
  EXPECT_EQ(driver.ColdStart(), 0);
  EXPECT_TRUE(sim::WaitUntil([&] { return station.IsConnected(); }, kGenerousMs));
  EXPECT_EQ(driver.EndOxa(), 0);
}

// The host gives the time-out in centiseconds; ten times that may not fit in 32 bits.
TEST_F(Lifecycle, TheReceiveTimeOutInMillisecondsSaturates) {
  const struct {
    std::int32_t centiseconds, milliseconds;
  } cases[] = {{50, 500},
               {214748364, 2147483640},
               {214748365, INT32_MAX},
               {INT32_MAX, INT32_MAX},
               {-214748364, -2147483640},
               {INT32_MIN, INT32_MIN}};
  DriverInstance driver;
  driver.WriteInitFile(10, {});
  for (const auto &c : cases) {
    ASSERT_EQ(driver.ColdStart(1, c.centiseconds), 0) << c.centiseconds;
    EXPECT_EQ(driver.block()->receiveTimeoutMs.Get(), c.milliseconds) << c.centiseconds;
    EXPECT_EQ(driver.EndOxa(), 0);
  }
}

TEST_F(Lifecycle, TwoInstancesRunSideBySideAndEndIndependently) {
  sim::Station first(StationOptions(1, 100)), second(StationOptions(2, 100));
  ASSERT_TRUE(first.Start());
  ASSERT_TRUE(second.Start());
  DriverInstance one(1), two(2);
  one.WriteInitFile(10, {{1, TestAddress(1)}});
  two.WriteInitFile(10, {{1, TestAddress(2)}});
  ASSERT_EQ(one.ColdStart(), 0);
  ASSERT_EQ(two.ColdStart(), 0);
  one.DefineGate(10, ChannelTag(1, 0), kHevGateFloat);  // driver index 0
  two.DefineGate(20, ChannelTag(1, 0), kHevGateFloat);  // the same address, driver index 1
  ASSERT_EQ(one.Parse(ChannelTag(1, 0), 10, kHevGateFloat), 0);
  ASSERT_EQ(two.Parse(ChannelTag(1, 0), 20, kHevGateFloat), 0);
  ASSERT_TRUE(HevWaitUntil([] { return DriverInstance::GateValue(10) != 0; }, kGenerousMs));
  ASSERT_TRUE(HevWaitUntil([] { return DriverInstance::GateValue(20) != 0; }, kGenerousMs));

  EXPECT_EQ(one.EndOxa(), 0);
  std::uint8_t client = 0;
  EXPECT_NE(HevCtlFindClient("DOV_DRIVER01", &client), 0);
  EXPECT_EQ(HevCtlFindClient("DOV_DRIVER02", &client), 0);
  unsigned before = 0, after = 0;
  DriverInstance::GateValue(20, &before);
  EXPECT_TRUE(HevWaitUntil(
      [&] {
        DriverInstance::GateValue(20, &after);
        return after > before + 2;
      },
      kGenerousMs))
      << "the second instance still receives";
  EXPECT_EQ(two.EndOxa(), 0);
}

// A host that starts a running instance again (a restart script, a host bug) must not get
// a second set of threads beside the first, and a run flag of 0 must not make the next
// driver end take the installation path and leave the threads running.
TEST_F(Lifecycle, ASecondColdStartIsRefusedAndLeavesTheRunningInstanceAsItIs) {
  // Counted once: the system lists a joined thread (the last round's station) a moment
  // longer, and the waits below allow for that.
  int threads = ThreadCount();
  for (std::int32_t runFlag : {1, 0}) {
    SCOPED_TRACE("second cold start with run flag " + std::to_string(runFlag));
    sim::Station station(StationOptions(1));
    ASSERT_TRUE(station.Start());
    {
      DriverInstance driver;
      driver.WriteInitFile(10, {{1, TestAddress(1)}});
      ASSERT_EQ(driver.ColdStart(), 0);
      ASSERT_TRUE(sim::WaitUntil([&] { return station.Connections() == 1; }, kGenerousMs));
      int running = ThreadCount();
      std::int32_t socket = driver.block()->stations[1].socket.Load();

      LogCapture log;
      EXPECT_EQ(driver.ColdStart(runFlag), 2);
      EXPECT_EQ(log.Texts(), std::vector<std::string>{"DEVADO01: ColdStart() refused: the driver "
                                                      "is running already (EndOxa first)"});
      EXPECT_EQ(driver.block()->started.Get(), 1);
      EXPECT_EQ(driver.block()->stations[1].socket.Load(), socket);
      EXPECT_LE(ThreadCount(), running) << "no second set of threads";
      EXPECT_EQ(HevCtlClientCount(), 1);

      LogCapture end;
      EXPECT_EQ(driver.EndOxa(), 0);
      // Both threads are joined before driver end returns: nothing of the driver calls
      // the host after its last line.
      std::vector<std::string> lines = end.Texts();
      EXPECT_TRUE(Contains(lines, "OxaDOV01: Closing SocketsReOpenThread()"));
      EXPECT_EQ(lines.back(), "OXAWNCNT: returning from EndOxa()");
      int expected = threads < 0 ? -1 : threads + 1;  // the station's own thread stays
      EXPECT_TRUE(HevWaitUntil([&] { return ThreadCount() == expected; }, kGenerousMs));
      EXPECT_EQ(end.Texts().size(), lines.size()) << end.Texts().back();
      EXPECT_EQ(station.Connections(), 1);
    }
    station.Stop();
  }
}

// Before its cold start, after an installation-time start and after driver end the block
// holds nothing of a running driver: every command that would use a station is refused
// with a line, and no station hears from the driver.
TEST_F(Lifecycle, CommandsOnAnInstanceThatIsNotRunningAreRefusedWithoutTouchingTheNetwork) {
  enum class Before { kNothing, kInstallation, kDriverEnd };
  for (Before before : {Before::kNothing, Before::kInstallation, Before::kDriverEnd}) {
    SCOPED_TRACE("case " + std::to_string(static_cast<int>(before)));
    sim::Station station(StationOptions(1));
    ASSERT_TRUE(station.Start());
    DriverInstance driver;
    driver.WriteInitFile(10, {{1, TestAddress(1)}});
    int connections = 0;
    if (before == Before::kInstallation) {
      ASSERT_EQ(driver.ColdStart(0), 0);
    }
    if (before == Before::kDriverEnd) {
      ASSERT_EQ(driver.ColdStart(), 0);
      ASSERT_TRUE(sim::WaitUntil([&] { return station.Connections() == 1; }, kGenerousMs));
      ASSERT_EQ(driver.EndOxa(), 0);
      ASSERT_TRUE(sim::WaitUntil([&] { return !station.IsConnected(); }, kGenerousMs));
      connections = 1;
    }
    // A socket field that looks connected must not be taken for a connection.
    driver.block()->stations[1].socket.Store(7);
    driver.DefineGate(30, ChannelTag(1, 0), kHevGateFloat);

    LogCapture log;
    EXPECT_EQ(driver.WarmStart(1), 1);
    EXPECT_EQ(driver.Parse(ChannelTag(1, 0), 30, kHevGateFloat), 1);
    EXPECT_EQ(driver.Read(kCommandSingleRead, ChannelTag(1, 0), 1), 1);
    EXPECT_EQ(driver.Read(kCommandSingleWrite, ChannelTag(1, 0), 1), 2);
    std::vector<std::string> lines = log.Texts();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_NE(lines[0].find("WarmStart() PLC 1 refused: the driver is not running"),
              std::string::npos)
        << lines[0];
    EXPECT_EQ(lines[1], "DEVADO: SingleParse() refused. Tag '001F0000'. The driver is not running");
    EXPECT_NE(lines[2].find("SingleRead() refused. Tag '001F0000'. The driver is not running"),
              std::string::npos)
        << lines[2];
    EXPECT_NE(lines[3].find("SingleWrite() refused. Tag '001F0000'. The driver is not running"),
              std::string::npos)
        << lines[3];
    EXPECT_EQ(driver.EndOxa(), 0);  // harmless, as ever
    EXPECT_EQ(station.Connections(), connections);
    EXPECT_EQ(ConfigurationsReceived(station), 0);
    station.Stop();
  }
}

// Warm starts race the re-open thread, and tag parses race the re-arms, on one station.
TEST_F(Lifecycle, RacingWarmStartsAndParsesLeaveOneLiveConnection) {
  int descriptors = OpenDescriptors();
  {
    sim::Station station(StationOptions(1, 100));
    ASSERT_TRUE(station.Start());
    DriverInstance driver;
    driver.WriteInitFile(10, {{1, TestAddress(1)}});
    driver.UseShortReopenWalk();
    ASSERT_EQ(driver.ColdStart(), 0);
    for (int gate = 0; gate < 4; ++gate) {
      driver.DefineGate(gate, ChannelTag(1, gate), kHevGateFloat);
    }
    for (int round = 0; round < 6; ++round) {
      station.DropConnection(round % 2 == 0);  // the re-open thread reconnects...
      // ...while the host warm-starts: the station listens, so each warm start connects.
      EXPECT_EQ(driver.WarmStart(1), 0) << "round " << round;
      for (int gate = 0; gate < 4; ++gate) driver.Parse(ChannelTag(1, gate), gate, kHevGateFloat);
    }
    ASSERT_TRUE(HevWaitUntil(
        [&] { return station.IsConnected() && driver.block()->stations[1].socket.Load() != -1; },
        kGenerousMs));
    // Everything that reached the station decoded as whole packets of known kinds.
    for (const sim::Packet &packet : station.Received()) {
      ASSERT_FALSE(packet.messages.empty());
      for (const sim::Message &message : packet.messages) {
        EXPECT_TRUE(message.type == kMessageSamplePointConfig || message.type == 0 ||
                    message.type == kMessageConnect || message.type == kMessageGetConfig)
            << message.type;
      }
    }
    EXPECT_EQ(driver.EndOxa(), 0);
  }
  EXPECT_EQ(OpenDescriptors(), descriptors);
}

}  // namespace
