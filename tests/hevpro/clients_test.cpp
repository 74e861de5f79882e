// Client registration and HevWaitMsg.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

#include "tests/hevpro/hevpro_fixture.h"

namespace {

class HevClients : public HevFixture {};

TEST_F(HevClients, IdsAreTheLowestFreeOnesFromOne) {
  EXPECT_EQ(MakeClient("a"), 1);
  EXPECT_EQ(MakeClient("b"), 2);
  EXPECT_EQ(MakeClient("c"), 3);
  EXPECT_EQ(HevRmClient(2), kHevOk);
  EXPECT_EQ(MakeClient("d"), 2);
  EXPECT_EQ(HevRmClient(1), kHevOk);
  EXPECT_EQ(HevRmClient(3), kHevOk);
  EXPECT_EQ(MakeClient("e"), 1);
  EXPECT_EQ(MakeClient("f"), 3);
  EXPECT_EQ(MakeClient("g"), 4);
  EXPECT_EQ(HevCtlClientCount(), 4);
}

TEST_F(HevClients, RegistrationRefusesBadRequestsAndLeavesTheIdAlone) {
  MakeClient("taken");
  const std::string longest(63, 'n');
  const std::string tooLong(64, 'n');
  struct Case {
    const char *what;
    const char *name;
    bool passId;
    uint16_t expected;
  } cases[] = {
      {"duplicate name", "taken", true, kHevNameInUse},
      {"name of 64 characters", tooLong.c_str(), true, kHevBadArgument},
      {"empty name", "", true, kHevBadArgument},
      {"null name", nullptr, true, kHevBadArgument},
      {"null id pointer", "fresh", false, kHevBadArgument},
      {"name of 63 characters", longest.c_str(), true, kHevOk},
  };
  for (const Case &c : cases) {
    int before = HevCtlClientCount();
    uint8_t id = 0xEE;
    uint16_t result = HevMkClient(c.name, 0, 0, c.passId ? &id : nullptr);
    EXPECT_EQ(result, c.expected) << c.what;
    if (c.expected == kHevOk) {
      EXPECT_EQ(id, 2) << c.what;
      EXPECT_EQ(HevCtlClientCount(), before + 1) << c.what;
    } else {
      EXPECT_EQ(id, 0xEE) << c.what;
      EXPECT_EQ(HevCtlClientCount(), before) << c.what;
    }
  }
}

TEST_F(HevClients, TableHoldsExactly255Clients) {
  for (int i = 1; i <= 255; ++i) {
    ASSERT_EQ(MakeClient("client" + std::to_string(i)), i);
  }
  uint8_t id = 0;
  EXPECT_EQ(HevMkClient("one more", 0, 0, &id), kHevTableFull);
  EXPECT_EQ(HevCtlClientCount(), 255);
  EXPECT_EQ(HevRmClient(100), kHevOk);
  EXPECT_EQ(MakeClient("one more"), 100);
}

TEST_F(HevClients, RemovalOfAnUnknownIdIsRefused) {
  uint8_t id = MakeClient("only");
  EXPECT_EQ(HevRmClient(0), kHevNoSuchClient);
  EXPECT_EQ(HevRmClient(7), kHevNoSuchClient);
  EXPECT_EQ(HevRmClient(id), kHevOk);
  EXPECT_EQ(HevRmClient(id), kHevNoSuchClient);
  EXPECT_EQ(HevCtlClientCount(), 0);
}

TEST_F(HevClients, FindClientByExactName) {
  uint8_t alpha = MakeClient("alpha");
  uint8_t beta = MakeClient("beta");
  struct Case {
    const char *name;
    int expected;
    uint8_t id;
  } cases[] = {
      {"alpha", kHevOk, alpha},      {"beta", kHevOk, beta},         {"Alpha", kHevNoSuchClient, 0},
      {"alph", kHevNoSuchClient, 0}, {"gamma", kHevNoSuchClient, 0},
  };
  for (const Case &c : cases) {
    uint8_t id = 0;
    EXPECT_EQ(HevCtlFindClient(c.name, &id), c.expected) << c.name;
    EXPECT_EQ(id, c.id) << c.name;
  }
  uint8_t id = 0;
  EXPECT_EQ(HevCtlFindClient(nullptr, &id), kHevBadArgument);
  EXPECT_EQ(HevCtlFindClient("alpha", nullptr), kHevBadArgument);
  EXPECT_EQ(HevRmClient(alpha), kHevOk);
  EXPECT_EQ(HevCtlFindClient("alpha", &id), kHevNoSuchClient);
}

TEST_F(HevClients, WaitMsgZeroesTheMessageAndTellsWhetherTheClientExists) {
  uint8_t id = MakeClient("waiter");
  struct Case {
    const char *what;
    uint8_t clientId;
    bool exists;
  } cases[] = {{"registered", id, true}, {"never registered", 9, false}, {"id 0", 0, false}};
  for (const Case &c : cases) {
    unsigned char message[32];
    std::memset(message, 0xAA, sizeof message);
    uint16_t result = HevWaitMsg(c.clientId, message, 0);
    EXPECT_EQ(result != 0, c.exists) << c.what;
    EXPECT_TRUE(std::all_of(message, message + 24, [](unsigned char b) { return b == 0; }))
        << c.what;
    EXPECT_EQ(message[24], 0xAA) << c.what << ": wrote past the 24-byte message";
    EXPECT_EQ(HevWaitMsg(c.clientId, nullptr, 0) != 0, c.exists) << c.what;
  }
  EXPECT_EQ(HevRmClient(id), kHevOk);
  EXPECT_EQ(HevWaitMsg(id, nullptr, 0), 0);
}

TEST_F(HevClients, WaitMsgEndsOnceAnotherThreadRemovesTheClient) {
  uint8_t id = MakeClient("message loop");
  std::atomic<int> nonzeroResults{0};
  std::atomic<bool> ended{false};
  std::thread loop([&] {
    while (HevWaitMsg(id, nullptr, 0) != 0) ++nonzeroResults;
    ended = true;
  });
  ASSERT_TRUE(HevWaitUntil([&] { return nonzeroResults.load() > 0; }, kGenerousWaitMs));
  EXPECT_FALSE(ended.load());
  EXPECT_EQ(HevRmClient(id), kHevOk);
  EXPECT_TRUE(HevWaitUntil([&] { return ended.load(); }, kGenerousWaitMs));
  loop.join();
}

TEST_F(HevClients, ConcurrentRegistrationsGetDistinctIds) {
  constexpr int kThreads = 4;
  constexpr int kPerThread = 60;
  std::vector<uint8_t> ids[kThreads];
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &ids] {
      for (int i = 0; i < kPerThread; ++i) {
        uint8_t id = 0;
        std::string name = "t" + std::to_string(t) + "c" + std::to_string(i);
        if (HevMkClient(name.c_str(), 0, 0, &id) == kHevOk) ids[t].push_back(id);
      }
    });
  }
  for (std::thread &thread : threads) thread.join();
  std::set<int> distinct;
  for (const auto &list : ids) distinct.insert(list.begin(), list.end());
  EXPECT_EQ(distinct.size(), static_cast<size_t>(kThreads * kPerThread));
  EXPECT_EQ(*distinct.begin(), 1);
  EXPECT_EQ(*distinct.rbegin(), kThreads * kPerThread);
  EXPECT_EQ(HevCtlClientCount(), kThreads * kPerThread);
}

}  // namespace
