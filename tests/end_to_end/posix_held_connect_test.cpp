// How long the re-open thread keeps one unanswered connect open. Linux lists every
// connect still waiting for its answer, with its local port, in /proc/self/net/tcp, so the
// test can see which socket asks the station; Windows offers no such view.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "link/instance_state.h"
#include "tests/support/driver_instance.h"

namespace {

using namespace testing_support;
using Clock = std::chrono::steady_clock;

constexpr unsigned kSynSent = 2;  // the state of a connect waiting for its answer

// The local port of the connect that waits for an answer from `address`, or 0.
unsigned WaitingConnectTo(const std::string &address) {
  std::FILE *table = std::fopen("/proc/self/net/tcp", "re");
  if (table == nullptr) return 0;
  unsigned long wanted = win::inet_addr(address.c_str());
  unsigned found = 0;
  char line[512];
  std::fgets(line, sizeof line, table);  // the heading
  while (found == 0 && std::fgets(line, sizeof line, table) != nullptr) {
    unsigned long localAddress, remoteAddress;
    unsigned localPort, remotePort, state;
    if (std::sscanf(line, " %*d: %lX:%X %lX:%X %X", &localAddress, &localPort, &remoteAddress,
                    &remotePort, &state) == 5 &&
        remoteAddress == wanted && remotePort == kStationPort && state == kSynSent) {
      found = localPort;
    }
  }
  std::fclose(table);
  return found;
}

struct Lifetime {
  unsigned port;
  Clock::time_point first, last;
};

// While a station does not answer at all, the re-open thread (trying once a second) asks it
// through the system's own repeats for as long as the system makes them a second apart,
// then with a fresh connect that is held as long again.
TEST(HeldConnect, AnUnansweredConnectIsHeldWhileTheSystemRepeatsItThenRenewed) {
  HevCtlReset();
  sim::Station reachable(StationOptions(1));
  ASSERT_TRUE(reachable.Start());
  const std::string away = TestAddress(2);
  Listener dead(away, 0);  // a backlog that one connection of our own fills
  ASSERT_TRUE(dead.ok());
  win::SOCKET filler = ConnectTo(away, 10000);
  ASSERT_NE(filler, INVALID_SOCKET);
  DriverInstance driver;
  driver.WriteInitFile(1, {{1, TestAddress(1)}, {2, away}});
  driver.UseShortReopenWalk();
  PresetTiming(driver.block()).reopenRetryMs = 1000;
  ASSERT_EQ(driver.ColdStart(), 0);

  // Cold start's own connect has ended when it returns. Three of the re-open thread's
  // connects in turn: the first two are then seen from start to end (sampled every 20 ms).
  std::vector<Lifetime> seen;
  auto deadline = Clock::now() + std::chrono::seconds(40);
  while (seen.size() < 3 && Clock::now() < deadline) {
    unsigned port = WaitingConnectTo(away);
    auto now = Clock::now();
    if (port != 0 && (seen.empty() || seen.back().port != port)) seen.push_back({port, now, now});
    if (port != 0) seen.back().last = now;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(driver.EndOxa(), 0);
  win::closesocket(filler);
  ASSERT_EQ(seen.size(), 3u) << "fewer connects than expected within 40 s";
  // Held through as many rounds as the system repeats the request, each with a window of
  // 500 ms: gone about half a second after the last repeat was due.
  double expected = win::ConnectRepeatsEverySecond() + 0.5;
  for (int i = 0; i < 2; ++i) {
    double lived = std::chrono::duration<double>(seen[i].last - seen[i].first).count();
    EXPECT_GT(lived, expected - 0.4) << "connect " << i + 1 << " was given up too soon";
    EXPECT_LT(lived, expected + 0.75) << "connect " << i + 1 << " was held too long";
  }
}

}  // namespace
