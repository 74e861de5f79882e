// Who owns a station's link, and what the host sees of it: new connections armed whoever
// makes them, slow stations that cannot starve the others, a send that stops part-way,
// and a driver end that stays bounded and leaves nothing running, whatever a host call does.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "contracts/host_runtime.h"
#include "countnet/codecs.h"
#include "tests/support/driver_instance.h"

namespace {

using namespace testing_support;
using Clock = std::chrono::steady_clock;

constexpr int kGenerousMs = 30000;

bool Contains(const std::vector<std::string> &lines, const std::string &text) {
  for (const std::string &line : lines) {
    if (line.find(text) != std::string::npos) return true;
  }
  return false;
}

unsigned Writes(int gateId) {
  unsigned writes = 0;
  DriverInstance::GateValue(gateId, &writes);
  return writes;
}

// A host whose gate-write call hangs, once, until the test lets it go.
// Made on the heap and never freed: a driver thread that driver end gave up on may still be
// inside the call, on its way out, when the test is over. The next test's reset of the
// stand-in host forgets it.
class HangingGateWrite {
 public:
  static HangingGateWrite &Make(int hangMs) {
    static std::vector<std::unique_ptr<HangingGateWrite>> *kept =
        new std::vector<std::unique_ptr<HangingGateWrite>>;
    kept->emplace_back(new HangingGateWrite(hangMs));
    return *kept->back();
  }
  bool WaitUntilHanging(int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return hanging_; });
  }
  void LetGo() {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      released_ = true;
    }
    changed_.notify_all();
  }
  bool Returned() {
    std::lock_guard<std::mutex> guard(mutex_);
    return returned_;
  }

 private:
  explicit HangingGateWrite(int hangMs) : hangMs_(hangMs) {
    HevCtlObserve(&HangingGateWrite::OnWrite, nullptr, this);
  }

  static void OnWrite(void *context, int, double) {
    auto *self = static_cast<HangingGateWrite *>(context);
    std::unique_lock<std::mutex> lock(self->mutex_);
    if (self->hanging_) return;  // only the first write hangs
    self->hanging_ = true;
    self->changed_.notify_all();
    self->changed_.wait_for(lock, std::chrono::milliseconds(self->hangMs_),
                            [&] { return self->released_; });
    self->returned_ = true;
  }

  int hangMs_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool hanging_ = false, released_ = false, returned_ = false;
};

class LinkOwnership : public testing::Test {
 protected:
  void SetUp() override { HevCtlReset(); }

  // Station 1 at the test's first address, a 10 s update rate, a quick re-open walk.
  static void StartWithOneStation(DriverInstance &driver) {
    driver.WriteInitFile(10, {{1, TestAddress(1)}});
    driver.UseShortReopenWalk();
    ASSERT_EQ(driver.ColdStart(), 0);
  }

  static void Arm(DriverInstance &driver, int station, int channels) {
    for (int channel = 0; channel < channels; ++channel) {
      int gate = station * 100 + channel;
      driver.DefineGate(gate, ChannelTag(station, channel), kHevGateFloat);
      ASSERT_EQ(driver.Parse(ChannelTag(station, channel), gate, kHevGateFloat), 0);
    }
  }

  static bool DataFlows(int station, int timeoutMs) {
    unsigned before = Writes(station * 100);
    return HevWaitUntil([&] { return Writes(station * 100) >= before + 2; }, timeoutMs);
  }
};

TEST_F(LinkOwnership, AWarmStartKeepsValuesFlowingWithoutAStatusReport) {
  sim::Station station(StationOptions(1, 100));
  ASSERT_TRUE(station.Start());
  DriverInstance driver;
  ASSERT_NO_FATAL_FAILURE(StartWithOneStation(driver));
  Arm(driver, 1, 1);
  ASSERT_TRUE(DataFlows(1, kGenerousMs));

  EXPECT_EQ(driver.WarmStart(1), 0);
  // The new connection is armed at once: data comes back long before a silence of six
  // update periods (60 s) could be noticed.
  EXPECT_TRUE(sim::WaitUntil([&] { return station.Connections() == 2; }, kGenerousMs));
  EXPECT_TRUE(DataFlows(1, kGenerousMs));
  EXPECT_EQ(ConfigurationsReceived(station), 2);
  EXPECT_EQ(driver.StatusReports(1), std::vector<int>{});
}

TEST_F(LinkOwnership, DriverEndLeavesNoThreadEvenWhenTheClientIdIsGivenAwayAtOnce) {
  int threads = ThreadCount();
  DriverInstance driver;
  ASSERT_NO_FATAL_FAILURE(StartWithOneStation(driver));
  std::uint8_t driverClient = driver.block()->clientId;
  // Another client takes the driver's id the moment it is free, as a busy host may.
  std::atomic<bool> ending{true};
  std::uint8_t intruder = 0;
  std::thread host([&] {
    while (ending && HevCtlClientCount() > 0) std::this_thread::yield();
    HevMkClient("ANOTHER_CLIENT", 1, 0, &intruder);
  });
  LogCapture log;
  auto start = Clock::now();
  EXPECT_EQ(driver.EndOxa(), 0);
  auto took = Clock::now() - start;
  ending = false;
  host.join();

  EXPECT_EQ(intruder, driverClient) << "the id was given away during driver end";
  EXPECT_FALSE(Contains(log.Texts(), "did not end in time"));
  EXPECT_LT(took, std::chrono::seconds(5)) << "the threads end on the driver's own signal";
  // Both threads are joined; the system lists a joined thread for a moment longer.
  if (threads >= 0) {
    EXPECT_TRUE(HevWaitUntil([&] { return ThreadCount() == threads; }, kGenerousMs))
        << "both threads have ended";
  }
  HevRmClient(intruder);
}

// A host call that hangs in a driver thread: driver end gives up on the thread within its
// bound, and the thread never touches the block again; the block is freed at once, as the
// host does (AddressSanitizer would see a later touch).
TEST_F(LinkOwnership, AHostCallThatHangsLeavesDriverEndBoundedAndTheFreedBlockUntouched) {
  sim::Station station(StationOptions(1, 100));
  ASSERT_TRUE(station.Start());
  int threads = ThreadCount();
  auto driver = std::make_unique<DriverInstance>();
  ASSERT_NO_FATAL_FAILURE(StartWithOneStation(*driver));
  HangingGateWrite &hang = HangingGateWrite::Make(15000);
  Arm(*driver, 1, 1);
  ASSERT_TRUE(hang.WaitUntilHanging(kGenerousMs));

  LogCapture log;
  auto start = Clock::now();
  EXPECT_EQ(driver->EndOxa(), 0);
  auto took = Clock::now() - start;
  driver.reset();  // the host frees the block

  EXPECT_LT(took, std::chrono::seconds(13)) << "about 10 s at most";
  EXPECT_TRUE(Contains(log.Texts(), "OxaDOV1: EndOxa() driver threads did not end in time"));
  EXPECT_TRUE(Contains(log.Texts(), "EndOxa() Disconnecting PLC 1"));
  hang.LetGo();
  EXPECT_TRUE(HevWaitUntil([&] { return hang.Returned(); }, kGenerousMs));
  // The thread that was given up on ends without a word and without the block.
  if (threads >= 0) {
    EXPECT_TRUE(HevWaitUntil([&] { return ThreadCount() == threads; }, kGenerousMs));
  }
  EXPECT_EQ(Writes(100), 1u) << "nothing more is written once the call returns";
}

TEST_F(LinkOwnership, AColdStartAfterAnAbandonedEndOnTheSameBlockWorks) {
  sim::Station station(StationOptions(1, 100));
  ASSERT_TRUE(station.Start());
  DriverInstance driver;
  ASSERT_NO_FATAL_FAILURE(StartWithOneStation(driver));
  HangingGateWrite &hang = HangingGateWrite::Make(12000);
  Arm(driver, 1, 1);
  ASSERT_TRUE(hang.WaitUntilHanging(kGenerousMs));
  EXPECT_EQ(driver.EndOxa(), 0);
  hang.LetGo();

  HevCtlReset();
  ASSERT_EQ(driver.ColdStart(), 0);
  Arm(driver, 1, 1);
  EXPECT_TRUE(DataFlows(1, kGenerousMs)) << "the new instance has state of its own";
  EXPECT_EQ(driver.EndOxa(), 0);
}

// Three stations that trickle their packets in ten pieces 180 ms apart, and four whose
// packets stall for 2.5 s: the healthy station beside them loses no sample and is never
// reported failed.
TEST_F(LinkOwnership, SlowStationsCannotStarveAHealthyOne) {
  std::vector<std::unique_ptr<sim::Station>> slow;
  for (int n = 2; n <= 8; ++n) {
    sim::Options options = StationOptions(n, 500);
    options.fault = sim::FaultMode::kSplit;
    options.splitPieces = n <= 4 ? 10 : 2;
    options.splitPauseMs = n <= 4 ? 180 : 2500;
    slow.push_back(std::make_unique<sim::Station>(options));
    ASSERT_TRUE(slow.back()->Start());
  }
  sim::Station healthy(StationOptions(1, 100));
  ASSERT_TRUE(healthy.Start());
  DriverInstance driver;
  std::vector<std::pair<int, std::string>> stations;
  for (int n = 1; n <= 8; ++n) stations.push_back({n, TestAddress(n)});
  driver.WriteInitFile(1, stations);
  driver.UseShortReopenWalk();
  ASSERT_EQ(driver.ColdStart(), 0);
  for (int n = 1; n <= 8; ++n) Arm(driver, n, 1);
  ASSERT_TRUE(DataFlows(1, kGenerousMs));
  // Samples for a while beside the slow ones (six update periods would fail it), then stops.
  ASSERT_TRUE(HevWaitUntil([&] { return healthy.SamplesSent() >= 80; }, kGenerousMs));
  healthy.SetFault(sim::FaultMode::kSilent);
  int sent = healthy.SamplesSent();

  EXPECT_TRUE(HevWaitUntil([&] { return Writes(100) >= static_cast<unsigned>(sent); }, 5000))
      << Writes(100) << " of " << sent << " samples reached the gate";
  EXPECT_EQ(driver.StatusReports(1), std::vector<int>{});
  EXPECT_EQ(driver.EndOxa(), 0);
}

// Tags parsed while the re-open thread connects their station: whichever comes first, the
// new connection has the station's objects before anything can send on it, and every
// tag flagged meanwhile is armed on it.
TEST_F(LinkOwnership, TagsParsedWhileTheStationIsReconnectedAreArmed) {
  sim::Station other(StationOptions(2, 100));
  ASSERT_TRUE(other.Start());
  sim::Station station(StationOptions(1, 100));
  DriverInstance driver;
  driver.WriteInitFile(1, {{1, TestAddress(1)}, {2, TestAddress(2)}});
  driver.UseShortReopenWalk();
  ASSERT_EQ(driver.ColdStart(), 0);
  driver.DefineGate(100, ChannelTag(1, 0), kHevGateFloat);

  LogCapture log;
  ASSERT_TRUE(station.Start());
  // Parse again and again up to the moment the re-open thread connects station 1, and
  // not after: the arming that comes with the new connection must cover the last parse.
  // The loop yields after each parse: under valgrind, which runs one thread at a time, a
  // loop that never gives the processor away can keep the re-open thread from running.
  auto deadline = Clock::now() + std::chrono::milliseconds(kGenerousMs);
  while (station.Connections() == 0 && Clock::now() < deadline) {
    ASSERT_EQ(driver.Parse(ChannelTag(1, 0), 100, kHevGateFloat), 0);
    std::this_thread::yield();
  }
  ASSERT_GT(station.Connections(), 0) << "the station was never connected";

  // Samples come only from a configured station: the tag is armed on the new connection.
  EXPECT_TRUE(DataFlows(1, kGenerousMs));
  EXPECT_FALSE(Contains(log.Texts(), "Failed to configue")) << "no send without objects";
  EXPECT_EQ(driver.EndOxa(), 0);
}

// A re-open that re-arms many tags against a slow tag database: driver end stops the walk
// at once and joins the thread, which therefore calls the host no more.
TEST_F(LinkOwnership, DriverEndStopsTheReArmingOfAReconnectedStation) {
  constexpr int kTags = 150, kDelayMs = 100;  // 15 s of re-arming, beyond driver end's 10 s
  sim::Station station(StationOptions(1, 100));
  ASSERT_TRUE(station.Start());
  DriverInstance driver;
  ASSERT_NO_FATAL_FAILURE(StartWithOneStation(driver));
  for (int gate = 100; gate < 100 + kTags; ++gate) {
    driver.DefineGate(gate, ChannelTag(1, 0), kHevGateFloat);
    ASSERT_EQ(driver.Parse(ChannelTag(1, 0), gate, kHevGateFloat), 0);
  }
  // The connection must be the station's before it can drop it: the driver's connect can
  // complete in the kernel before the station has taken it.
  ASSERT_TRUE(HevWaitUntil([&] { return station.IsSampling(); }, kGenerousMs));
  ASSERT_EQ(HevCtlSetGateDefDelay(kDelayMs), 0);
  std::uint32_t before = HevCtlGateDefCalls();
  station.DropConnection(false);
  // The re-open thread has reconnected the station and is walking its tags.
  ASSERT_TRUE(HevWaitUntil([&] { return HevCtlGateDefCalls() >= before + 3; }, kGenerousMs));

  LogCapture log;
  EXPECT_EQ(driver.EndOxa(), 0);
  std::uint32_t atEnd = HevCtlGateDefCalls();
  EXPECT_FALSE(Contains(log.Texts(), "did not end in time")) << "the walk heeds the stop";
  // A walk that ignored the stop would go on for driver end's 10 s, about 100 more calls.
  EXPECT_LE(atEnd - before, 10u) << "the walk stopped within a call or two of driver end";
}

// A station that takes nothing: once its buffers are full, a send cannot finish, and the
// link is failed instead of being left with half a packet on it.
TEST_F(LinkOwnership, ASendThatCannotFinishFailsTheLink) {
  WinsockSession winsock;
  Listener station(TestAddress(1));
  ASSERT_TRUE(station.ok());
  DriverInstance driver;
  ASSERT_NO_FATAL_FAILURE(StartWithOneStation(driver));
  win::SOCKET accepted = station.Accept(kGenerousMs);
  ASSERT_NE(accepted, INVALID_SOCKET);
  driver.DefineGate(100, ChannelTag(1, 0), kHevGateFloat);
  // Small buffers on both ends fill after a few hundred packets.
  int small = 4096;
  win::setsockopt(accepted, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char *>(&small), sizeof small);
  auto driverSide = static_cast<win::SOCKET>(driver.block()->stations[1].socket.Load());
  win::setsockopt(driverSide, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<char *>(&small),
                  sizeof small);

  LogCapture log;
  bool failedToConfigure = false;
  for (int i = 0; i < 20000 && !failedToConfigure; ++i) {
    driver.Parse(ChannelTag(1, 0), 100, kHevGateFloat);
    char last[200] = {};
    int level = 0;
    HevCtlCapturedLine(HevCtlCapturedCount() - 1, &level, last, sizeof last);
    failedToConfigure = std::string(last).find("Failed to configue sampling") != std::string::npos;
  }
  ASSERT_TRUE(failedToConfigure);
  EXPECT_TRUE(driver.WaitForStatus(1, {1}, kGenerousMs)) << "the link is failed";
  EXPECT_TRUE(Contains(log.Texts(), "OxaDOV01: Comms Fail. Station 1 IP Addr " + TestAddress(1)));
  win::closesocket(accepted);
  EXPECT_EQ(driver.EndOxa(), 0);
}

}  // namespace
