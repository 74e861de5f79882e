// Mutating calls accept only live objects of the right kind from this library; the
// registry behind that check is shared by every thread.
#include <gtest/gtest.h>
#include <string.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "tests/pakt/pakt_test_support.h"

namespace pakt_test {
namespace {

// A mutating call with its other argument(s) valid. The void calls have no result to
// check; that they write nothing is checked for all calls.
struct MutatingCall {
  std::string name;
  std::function<int(void *)> call;
  bool hasResult = true;
};

class PaktOwnership : public ::testing::Test {
 protected:
  void SetUp() override {
    goodPacket_ = pvPktAllocatePacket(64);
    goodMessage_ = BuildMessage({3, {{1, {1, 2, 3}}}});
    freedPacket_ = pvPktAllocatePacket(64);
    freedMessage_ = pvMsgAllocateMessage(64);
    ASSERT_NE(goodPacket_, nullptr);
    ASSERT_NE(goodMessage_, nullptr);
    ASSERT_EQ(iPktFreePacket(freedPacket_), 0);
    ASSERT_EQ(iMsgFreeMessage(freedMessage_), 0);
    // Images that look right but were never allocated here.
    Bytes packetImage = Image().PacketHeader(18, 0).bytes();
    memcpy(foreignPacket_, packetImage.data(), packetImage.size());
    Bytes messageImage = Image().MessageHeader(0, 4).bytes();
    memcpy(foreignMessage_, messageImage.data(), messageImage.size());
  }
  void TearDown() override {
    EXPECT_EQ(iPktFreePacket(goodPacket_), 0);
    EXPECT_EQ(iMsgFreeMessage(goodMessage_), 0);
  }

  std::vector<MutatingCall> PacketCalls() {
    void *message = goodMessage_;
    return {
        {"iPktClearPacket", [](void *p) { return iPktClearPacket(p); }},
        {"iPktAddMessage", [message](void *p) { return iPktAddMessage(p, message); }},
        {"vPktSetInternetAddress",
         [](void *p) { return vPktSetInternetAddress(p, 0x01020304u, 99), 0; }, false},
        {"iPktFreePacket", [](void *p) { return iPktFreePacket(p); }},
    };
  }
  std::vector<MutatingCall> MessageCalls() {
    void *packet = goodPacket_;
    static const uint8_t data[] = {5, 6};
    return {
        {"iMsgClearMessage", [](void *m) { return iMsgClearMessage(m); }},
        {"vMsgSetMessageType", [](void *m) { return vMsgSetMessageType(m, 77), 0; }, false},
        {"iMsgAddField", [](void *m) { return iMsgAddField(m, 1, 2, data); }},
        {"iMsgAddOnChange", [](void *m) { return iMsgAddOnChange(m, 1, 2, data); }},
        {"iPktAddMessage", [packet](void *m) { return iPktAddMessage(packet, m); }},
        {"iMsgFreeMessage", [](void *m) { return iMsgFreeMessage(m); }},
    };
  }

  // Runs every call on every bad pointer: each int call refuses with kPaktErrArgument,
  // and no call writes to the bad object, nor to the valid objects it was given.
  void ExpectRefused(const std::vector<MutatingCall> &calls,
                     const std::vector<std::pair<std::string, void *>> &bad) {
    for (const MutatingCall &c : calls) {
      for (const auto &b : bad) {
        SCOPED_TRACE(c.name + " on " + b.first);
        Bytes foreignBefore = Snapshot();
        int result = c.call(b.second);
        if (c.hasResult) {
          EXPECT_EQ(result, kPaktErrArgument);
        }
        EXPECT_EQ(Snapshot(), foreignBefore);
      }
    }
  }

  // The bytes a refused call must not change: both foreign images and both live objects.
  Bytes Snapshot() {
    Bytes all(foreignPacket_, foreignPacket_ + sizeof foreignPacket_);
    all.insert(all.end(), foreignMessage_, foreignMessage_ + sizeof foreignMessage_);
    const uint8_t *p = static_cast<const uint8_t *>(goodPacket_);
    const uint8_t *m = static_cast<const uint8_t *>(goodMessage_);
    all.insert(all.end(), p, p + 64);
    all.insert(all.end(), m, m + 11);
    return all;
  }

  void *goodPacket_ = nullptr;
  void *goodMessage_ = nullptr;
  void *freedPacket_ = nullptr;
  void *freedMessage_ = nullptr;
  uint8_t foreignPacket_[64] = {};
  uint8_t foreignMessage_[64] = {};
};

TEST_F(PaktOwnership, PacketCallsRefuseAnythingButALivePacket) {
  ExpectRefused(PacketCalls(), {{"null", nullptr},
                                {"foreign image", foreignPacket_},
                                {"freed packet", freedPacket_},
                                {"a message", goodMessage_},
                                {"inside a packet", static_cast<uint8_t *>(goodPacket_) + 1}});
}

TEST_F(PaktOwnership, MessageCallsRefuseAnythingButALiveMessage) {
  ExpectRefused(MessageCalls(), {{"null", nullptr},
                                 {"foreign image", foreignMessage_},
                                 {"freed message", freedMessage_},
                                 {"a packet", goodPacket_},
                                 {"inside a message", static_cast<uint8_t *>(goodMessage_) + 1}});
}

TEST(PaktRelease, DoubleFreeAndWrongKindAreRefused) {
  void *p = pvPktAllocatePacket(22);
  void *m = pvMsgAllocateMessage(4);
  ASSERT_NE(p, nullptr);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(iMsgFreeMessage(p), kPaktErrArgument);
  EXPECT_EQ(iPktFreePacket(m), kPaktErrArgument);
  // Still alive after the wrong-kind attempts.
  EXPECT_EQ(iPktAddMessage(p, m), 0);
  EXPECT_EQ(iPktFreePacket(p), 0);
  EXPECT_EQ(iMsgFreeMessage(m), 0);
  EXPECT_EQ(iPktFreePacket(p), kPaktErrArgument);
  EXPECT_EQ(iMsgFreeMessage(m), kPaktErrArgument);
}

TEST(PaktRegistry, ThreeThreadsAllocateBuildAndFreeAtOnce) {
  const int kRounds = 3000;
  std::atomic<int> failures{0};
  std::atomic<bool> go{false};
  auto worker = [&](uint16_t id) {
    while (!go) std::this_thread::yield();
    for (int i = 0; i < kRounds; ++i) {
      void *p = pvPktAllocatePacket(18 + 10 + 4 * (i % 5));
      void *m = pvMsgAllocateMessage(10);
      uint8_t data[2] = {static_cast<uint8_t>(id), static_cast<uint8_t>(i)};
      bool ok = p != nullptr && m != nullptr && iMsgAddField(m, id, 2, data) == 0 &&
                iPktAddMessage(p, m) == 0 && iMsgFreeMessage(m) == 0;
      void *walked = ok ? pvPktGetNextMessagePointer(p, nullptr) : nullptr;
      ok = ok && walked != nullptr &&
           DecodeFields(walked) == std::vector<Field>{{id, {data[0], data[1]}}};
      // No double-free check here: another thread may be given the same address at once.
      ok = ok && iPktFreePacket(p) == 0;
      if (!ok) ++failures;
    }
  };
  std::thread a(worker, 1), b(worker, 2), c(worker, 3);
  go = true;
  a.join();
  b.join();
  c.join();
  EXPECT_EQ(failures.load(), 0);
}

TEST(PaktRegistry, ObjectsMayBeFreedByAnotherThread) {
  const int kCount = 3000;
  std::vector<void *> objects;
  for (int i = 0; i < kCount; ++i) {
    objects.push_back(i % 2 ? pvMsgAllocateMessage(8) : pvPktAllocatePacket(20));
  }
  std::atomic<int> failures{0};
  auto freeEvery = [&](int first) {
    for (int i = first; i < kCount; i += 3) {
      int r = i % 2 ? iMsgFreeMessage(objects[i]) : iPktFreePacket(objects[i]);
      if (r != 0) ++failures;
    }
  };
  std::thread a(freeEvery, 0), b(freeEvery, 1), c(freeEvery, 2);
  a.join();
  b.join();
  c.join();
  EXPECT_EQ(failures.load(), 0);
}

}  // namespace
}  // namespace pakt_test
