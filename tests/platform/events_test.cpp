// Events, waits, sleeps and threads: the Windows semantics the driver relies on, the same
// on Linux and under Wine.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "platform/winapi.h"

namespace {

constexpr win::DWORD kShortWaitMs = 50;
constexpr win::DWORD kGenerousWaitMs = 10000;

struct EventCase {
  const char *name;
  win::BOOL manualReset;
  win::BOOL initiallySignalled;
  win::DWORD firstWait;
  win::DWORD secondWait;
};

class EventSemantics : public testing::TestWithParam<EventCase> {};

TEST_P(EventSemantics, WaitsFollowResetModeAndInitialState) {
  const EventCase &c = GetParam();
  win::HANDLE event = win::CreateEventA(nullptr, c.manualReset, c.initiallySignalled, nullptr);
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(win::WaitForSingleObject(event, kShortWaitMs), c.firstWait);
  EXPECT_EQ(win::WaitForSingleObject(event, kShortWaitMs), c.secondWait);
  EXPECT_TRUE(win::CloseHandle(event));
}

INSTANTIATE_TEST_SUITE_P(
    Events, EventSemantics,
    testing::Values(EventCase{"AutoResetSignalled", FALSE, TRUE, WAIT_OBJECT_0, WAIT_TIMEOUT},
                    EventCase{"AutoResetClear", FALSE, FALSE, WAIT_TIMEOUT, WAIT_TIMEOUT},
                    EventCase{"ManualResetSignalled", TRUE, TRUE, WAIT_OBJECT_0, WAIT_OBJECT_0}),
    [](const testing::TestParamInfo<EventCase> &info) { return std::string(info.param.name); });

TEST(Events, SetEventReleasesExactlyOneWaitOfAnAutoResetEvent) {
  win::HANDLE event = win::CreateEventA(nullptr, FALSE, FALSE, nullptr);
  ASSERT_NE(event, nullptr);
  EXPECT_TRUE(win::SetEvent(event));
  EXPECT_TRUE(win::SetEvent(event));  // setting a set event does not count twice
  EXPECT_EQ(win::WaitForSingleObject(event, kShortWaitMs), WAIT_OBJECT_0);
  EXPECT_EQ(win::WaitForSingleObject(event, kShortWaitMs), WAIT_TIMEOUT);
  win::CloseHandle(event);
}

struct WakeContext {
  win::HANDLE event;
  win::HANDLE done;
};

TEST(Events, SetEventFromAnotherThreadWakesABlockedWait) {
  WakeContext context{win::CreateEventA(nullptr, FALSE, FALSE, nullptr),
                      win::CreateEventA(nullptr, FALSE, FALSE, nullptr)};
  ASSERT_NE(context.event, nullptr);
  auto setter = [](void *raw) {
    auto *c = static_cast<WakeContext *>(raw);
    win::Sleep(20);
    win::SetEvent(c->event);
    win::SetEvent(c->done);
  };
  ASSERT_NE(win::_beginthread(setter, 32768, &context), static_cast<std::uintptr_t>(-1));
  EXPECT_EQ(win::WaitForSingleObject(context.event, kGenerousWaitMs), WAIT_OBJECT_0);
  EXPECT_EQ(win::WaitForSingleObject(context.done, kGenerousWaitMs), WAIT_OBJECT_0);
  win::CloseHandle(context.event);
  win::CloseHandle(context.done);
}

TEST(Events, NullAndClosedHandlesFail) {
  EXPECT_EQ(win::WaitForSingleObject(nullptr, kShortWaitMs), WAIT_FAILED);
  EXPECT_FALSE(win::SetEvent(nullptr));

  win::HANDLE event = win::CreateEventA(nullptr, FALSE, TRUE, nullptr);
  ASSERT_NE(event, nullptr);
  ASSERT_TRUE(win::CloseHandle(event));
  EXPECT_EQ(win::WaitForSingleObject(event, kShortWaitMs), WAIT_FAILED);
  EXPECT_FALSE(win::SetEvent(event));
  EXPECT_FALSE(win::CloseHandle(event));
}

TEST(Events, ManyEventsCanBeCreatedAndClosed) {
  for (int round = 0; round < 3; ++round) {
    std::vector<win::HANDLE> events;
    for (int i = 0; i < 500; ++i) {
      events.push_back(win::CreateEventA(nullptr, FALSE, TRUE, nullptr));
      ASSERT_NE(events.back(), nullptr);
    }
    for (win::HANDLE e : events) {
      EXPECT_EQ(win::WaitForSingleObject(e, 0), WAIT_OBJECT_0);
      EXPECT_TRUE(win::CloseHandle(e));
    }
  }
}

struct ThreadContext {
  std::atomic<int> value{0};
  char formatted[64] = {};
  win::HANDLE done = nullptr;
};

// A driver thread gets a 32 KiB stack and formats log lines with a 5000-byte buffer on it.
void BusyThread(void *raw) {
  auto *context = static_cast<ThreadContext *>(raw);
  char buffer[5000];
  std::snprintf(buffer, sizeof buffer, "%s %d %f", "stack check", 42, 1.5);
  std::memcpy(context->formatted, buffer, sizeof context->formatted - 1);
  context->value = 7;
  win::SetEvent(context->done);
}

TEST(Threads, BeginThreadRunsTheFunctionWithItsArgumentOnASmallStack) {
  ThreadContext context;
  context.done = win::CreateEventA(nullptr, FALSE, FALSE, nullptr);
  ASSERT_NE(win::_beginthread(BusyThread, 32768, &context), static_cast<std::uintptr_t>(-1));
  ASSERT_EQ(win::WaitForSingleObject(context.done, kGenerousWaitMs), WAIT_OBJECT_0);
  EXPECT_EQ(context.value.load(), 7);
  EXPECT_STREQ(context.formatted, "stack check 42 1.500000");
  win::CloseHandle(context.done);
}

}  // namespace
