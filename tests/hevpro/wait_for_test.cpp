// HevCtlWaitFor: waking on state changes, periodic re-checks, time-outs.
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "tests/hevpro/hevpro_fixture.h"

namespace {

class HevWaitFor : public HevFixture {};

// Each case changes the runtime from another thread once the waiter has found its
// condition false, so the wait has to notice a later change. The conditions call the
// control API, which would deadlock were the predicate called under the runtime's lock.
TEST_F(HevWaitFor, ReturnsOnceAChangeByAnotherThreadMakesTheConditionHold) {
  ASSERT_EQ(HevCtlDefineGate(9, "W", kHevGateFloat, 0), 0);
  uint8_t client = MakeClient("changer");
  HevCtlCaptureStart();
  struct Case {
    const char *what;
    std::function<void()> change;
    std::function<bool()> condition;
  } cases[] = {
      {"gate write", [&] { HevPutGateVal(client, 9, 0, 5.0, 0, 0); },
       [] {
         double value = 0;
         return HevCtlGateValue(9, &value, nullptr) == 0 && value == 5.0;
       }},
      {"status report", [&] { HevSetPlcCommStatus(client, 1, 2, 0, 1); },
       [] { return HevCtlCommStatusCount() == 1; }},
      {"log line", [] { err(kLogOperational, "wake"); }, [] { return HevCtlCapturedCount() == 1; }},
      {"new client", [] { MakeClient("newcomer"); }, [] { return HevCtlClientCount() == 2; }},
  };
  for (const Case &c : cases) {
    ASSERT_FALSE(c.condition()) << c.what;
    std::atomic<int> evaluations{0};
    std::thread changer([&] {
      if (HevWaitUntil([&] { return evaluations.load() > 0; }, kGenerousWaitMs)) c.change();
    });
    bool held = HevWaitUntil(
        [&] {
          ++evaluations;
          return c.condition();
        },
        kGenerousWaitMs);
    changer.join();
    EXPECT_TRUE(held) << c.what;
  }
}

// A condition on something the runtime does not see changing must still be re-checked
// while the wait lasts. The flag holds only until the waiter has seen it, or for half
// the waiter's time: a waiter that looked again only at its deadline would find it
// false and time out.
TEST_F(HevWaitFor, RechecksConditionsOutsideTheRuntime) {
  std::atomic<int> evaluations{0};
  std::atomic<bool> flag{false};
  std::atomic<bool> seen{false};
  std::thread changer([&] {
    auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(kGenerousWaitMs / 2);
    auto before = [&] { return std::chrono::steady_clock::now() < giveUp; };
    while (evaluations.load() == 0 && before()) std::this_thread::yield();
    flag = true;
    while (!seen.load() && before()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    flag = false;
  });
  bool held = HevWaitUntil(
      [&] {
        ++evaluations;
        if (flag.load()) seen = true;
        return flag.load();
      },
      kGenerousWaitMs);
  changer.join();
  EXPECT_TRUE(held);
}

TEST_F(HevWaitFor, TimesOutWhenTheConditionNeverHolds) {
  constexpr int kTimeoutMs = 100;
  std::atomic<int> evaluations{0};
  auto start = std::chrono::steady_clock::now();
  bool held = HevWaitUntil(
      [&] {
        ++evaluations;
        return false;
      },
      kTimeoutMs);
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_FALSE(held);
  EXPECT_GE(waited, std::chrono::milliseconds(kTimeoutMs));
  EXPECT_GE(evaluations.load(), 1);
}

TEST_F(HevWaitFor, ConditionThatAlreadyHoldsReturnsAtOnceEvenWithoutTime) {
  EXPECT_TRUE(HevWaitUntil([] { return true; }, 0));
  EXPECT_EQ(HevCtlWaitFor(nullptr, nullptr, 0), 0);
}

}  // namespace
