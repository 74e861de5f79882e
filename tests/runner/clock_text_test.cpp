// The time texts that every line of the runner carries, made on several threads at once
// (the driver's two threads and the broker session's).
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "runner/clock_text.h"

namespace {

TEST(ClockText, ThreadsThatFormatDifferentTimesAtOnceEachGetTheirOwn) {
  // Years apart, so that a calendar borrowed from another thread's call shows.
  const std::vector<WallTime> times = {
      WallTime(std::chrono::seconds(1000000000)), WallTime(std::chrono::seconds(1700000000)),
      WallTime(std::chrono::seconds(1300000000)), WallTime(std::chrono::seconds(1999999999))};
  std::vector<std::string> expected;
  for (WallTime time : times) expected.push_back(IsoTime(time));
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < times.size(); ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 20000; ++i) {
        if (IsoTime(times[t]) != expected[t]) ++wrong;
      }
    });
  }
  for (std::thread &thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
