// The outbox between the driver's threads and the broker: bounded, oldest samples first to
// go, states replaced by newer ones, and what is handed back comes first again.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runner/mqtt/outbox.h"

namespace {

OutMessage SampleMessage(int n) {
  return {"s", std::to_string(n), false, true};
}
OutMessage StateMessage(const std::string &payload) {
  return {"l", payload, true, false};
}

std::vector<std::string> Payloads(const std::vector<OutMessage> &messages) {
  std::vector<std::string> payloads;
  for (const OutMessage &m : messages) payloads.push_back(m.payload);
  return payloads;
}

struct OverflowCase {
  std::size_t capacity;
  int put;
  long dropped;
  std::vector<std::string> left;
};

class OutboxOverflow : public testing::TestWithParam<OverflowCase> {};

TEST_P(OutboxOverflow, KeepsTheNewestSamplesInOrderAndCountsTheRest) {
  const OverflowCase &c = GetParam();
  Outbox outbox(c.capacity);
  for (int n = 1; n <= c.put; ++n) outbox.PutSample(SampleMessage(n));
  EXPECT_EQ(outbox.Dropped(), c.dropped);
  EXPECT_EQ(outbox.Samples(), c.left.size());
  EXPECT_EQ(Payloads(outbox.Take(100)), c.left);
  EXPECT_TRUE(outbox.Empty());
}

INSTANTIATE_TEST_SUITE_P(, OutboxOverflow,
                         testing::Values(OverflowCase{3, 2, 0, {"1", "2"}},
                                         OverflowCase{3, 3, 0, {"1", "2", "3"}},
                                         OverflowCase{3, 5, 2, {"3", "4", "5"}},
                                         OverflowCase{1, 4, 3, {"4"}}));

TEST(Outbox, SendsTheNewestStateFirstAndWhatWasHandedBackBeforeAnything) {
  Outbox outbox(10);
  int wakes = 0;
  outbox.SetWake([&wakes] { ++wakes; });
  outbox.PutSample(SampleMessage(1));
  outbox.PutState(2, StateMessage("station 2 failed"));
  outbox.PutState(2, StateMessage("station 2 restored"));
  outbox.PutState(Outbox::kStatusState, StateMessage("online"));
  outbox.PutSample(SampleMessage(2));
  EXPECT_EQ(wakes, 5);

  std::vector<OutMessage> first = outbox.Take(2);
  EXPECT_EQ(Payloads(first), (std::vector<std::string>{"online", "station 2 restored"}));
  outbox.PutBack({first[1]});
  EXPECT_EQ(Payloads(outbox.Take(10)), (std::vector<std::string>{"station 2 restored", "1", "2"}));
  EXPECT_EQ(outbox.Dropped(), 0);
}

}  // namespace
