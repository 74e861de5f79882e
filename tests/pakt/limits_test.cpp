// Allocation bounds, capacity limits of messages and packets, and clearing.
#include <gtest/gtest.h>

#include "tests/pakt/pakt_test_support.h"

namespace pakt_test {
namespace {

struct AllocationCase {
  int size;
  bool allocated;
};

class PaktPacketAllocation : public ::testing::TestWithParam<AllocationCase> {};
class PaktMessageAllocation : public ::testing::TestWithParam<AllocationCase> {};

TEST_P(PaktPacketAllocation, SizeBoundsAndEmptyImage) {
  void *packet = pvPktAllocatePacket(GetParam().size);
  ASSERT_EQ(packet != nullptr, GetParam().allocated);
  if (packet == nullptr) return;
  const uint8_t *wire = static_cast<const uint8_t *>(packet);
  EXPECT_EQ(Bytes(wire, wire + 18), Image().PacketHeader(18, 0).bytes());
  EXPECT_EQ(pvPktGetNextMessagePointer(packet, nullptr), nullptr);
  EXPECT_EQ(iPktFreePacket(packet), 0);
}

INSTANTIATE_TEST_SUITE_P(Sizes, PaktPacketAllocation,
                         ::testing::Values(AllocationCase{-1, false}, AllocationCase{0, false},
                                           AllocationCase{17, false}, AllocationCase{18, true},
                                           AllocationCase{5000, true},
                                           AllocationCase{1 << 20, true},
                                           AllocationCase{(1 << 20) + 1, false},
                                           AllocationCase{0x7FFFFFFF, false}));

TEST_P(PaktMessageAllocation, SizeBoundsAndEmptyImage) {
  void *message = pvMsgAllocateMessage(GetParam().size);
  ASSERT_EQ(message != nullptr, GetParam().allocated);
  if (message == nullptr) return;
  const uint8_t *wire = static_cast<const uint8_t *>(message);
  EXPECT_EQ(Bytes(wire, wire + 4), Image().MessageHeader(0, 4).bytes());
  EXPECT_EQ(wMsgGetFirstField(message), 0);
  EXPECT_EQ(iMsgFreeMessage(message), 0);
}

INSTANTIATE_TEST_SUITE_P(Sizes, PaktMessageAllocation,
                         ::testing::Values(AllocationCase{-5, false}, AllocationCase{0, false},
                                           AllocationCase{3, false}, AllocationCase{4, true},
                                           AllocationCase{100, true}, AllocationCase{65535, true},
                                           AllocationCase{65536, false}));

using AddFunction = int (*)(void *, uint16_t, uint16_t, const void *);

// Both ways of adding a field must behave identically.
class PaktAddField : public ::testing::TestWithParam<AddFunction> {
 protected:
  int Add(void *m, uint16_t id, uint16_t length, const void *data) {
    return GetParam()(m, id, length, data);
  }
};

TEST_P(PaktAddField, FieldThatExactlyFitsIsAddedOneByteMoreIsRefused) {
  // {capacity, data length of a first field or -1 for none}
  const int cases[][2] = {{4, -1}, {8, -1}, {20, -1}, {20, 3}, {65535, -1}, {65535, 100}};
  const Bytes data(65535, 0x5A);
  for (const auto &c : cases) {
    SCOPED_TRACE(::testing::Message() << "capacity " << c[0] << " first " << c[1]);
    void *m = pvMsgAllocateMessage(c[0]);
    ASSERT_NE(m, nullptr);
    int used = 4;
    if (c[1] >= 0) {
      ASSERT_EQ(Add(m, 1, static_cast<uint16_t>(c[1]), data.data()), 0);
      used += 4 + c[1];
    }
    const uint8_t *wire = static_cast<const uint8_t *>(m);
    Bytes before(wire, wire + c[0]);
    int room = c[0] - used - 4;  // data bytes that still fit
    if (room >= 0) {
      // One byte too many first: refused, not a byte of the object changed.
      EXPECT_EQ(Add(m, 2, static_cast<uint16_t>(room + 1), data.data()), kPaktErrNoRoom);
      EXPECT_EQ(Bytes(wire, wire + c[0]), before);
      EXPECT_EQ(Add(m, 2, static_cast<uint16_t>(room), data.data()), 0);
      EXPECT_EQ(wire[2] | wire[3] << 8, c[0]);
      uint16_t h = wMsgGetFieldByID(m, 2, wMsgGetFirstField(m));
      EXPECT_EQ(h, used);
      EXPECT_EQ(wMsgGetFieldLength(m, h), room);
    }
    // Full now (or never had room for a field header): even an empty field is refused.
    Bytes full(wire, wire + c[0]);
    EXPECT_EQ(Add(m, 3, 0, nullptr), kPaktErrNoRoom);
    EXPECT_EQ(Bytes(wire, wire + c[0]), full);
    EXPECT_EQ(iMsgFreeMessage(m), 0);
  }
}

TEST_P(PaktAddField, NullDataIsAcceptedOnlyForAnEmptyField) {
  void *m = pvMsgAllocateMessage(64);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(Add(m, 1, 1, nullptr), kPaktErrArgument);
  EXPECT_EQ(wMsgGetFirstField(m), 0);
  EXPECT_EQ(Add(m, 1, 0, nullptr), 0);
  EXPECT_EQ(wMsgGetFieldLength(m, wMsgGetFirstField(m)), 0);
  EXPECT_EQ(wMsgGetFieldID(m, wMsgGetFirstField(m)), 1);
  EXPECT_EQ(iMsgFreeMessage(m), 0);
}

TEST_P(PaktAddField, WritesTheFieldAsIdLengthAndData) {
  void *m = pvMsgAllocateMessage(64);
  ASSERT_NE(m, nullptr);
  vMsgSetMessageType(m, 0xA1B2);
  const uint8_t data[] = {9, 8, 7};
  ASSERT_EQ(Add(m, 0x0102, 3, data), 0);
  ASSERT_EQ(Add(m, 0xFFFF, 0, nullptr), 0);
  const uint8_t *wire = static_cast<const uint8_t *>(m);
  Bytes expected =
      Image().MessageHeader(0xA1B2, 15).Field(0x0102, {9, 8, 7}).Field(0xFFFF, {}).bytes();
  EXPECT_EQ(Bytes(wire, wire + expected.size()), expected);
  EXPECT_EQ(iMsgFreeMessage(m), 0);
}

INSTANTIATE_TEST_SUITE_P(BothAddCalls, PaktAddField,
                         ::testing::Values(&iMsgAddField, &iMsgAddOnChange),
                         [](const ::testing::TestParamInfo<AddFunction> &info) {
                           return info.param == &iMsgAddField ? "AddField" : "AddOnChange";
                         });

TEST(PaktPacketCapacity, MessageThatExactlyFitsIsAddedOneByteMoreIsRefused) {
  // {message length, copies that fill the packet exactly}
  const int cases[][2] = {{4, 1}, {12, 1}, {12, 2}, {100, 10}, {65535, 1}, {65535, 15}};
  for (const auto &c : cases) {
    void *m = pvMsgAllocateMessage(c[0]);
    ASSERT_NE(m, nullptr);
    if (c[0] > 4) {
      Bytes data(c[0] - 8, 0x11);
      ASSERT_EQ(iMsgAddField(m, 1, static_cast<uint16_t>(data.size()), data.data()), 0);
    }
    // A packet one byte short holds one copy fewer.
    for (int shortBy : {0, 1}) {
      SCOPED_TRACE(::testing::Message()
                   << "message " << c[0] << " copies " << c[1] << " short by " << shortBy);
      int capacity = 18 + c[0] * c[1] - shortBy;
      void *p = pvPktAllocatePacket(capacity);
      ASSERT_NE(p, nullptr);
      for (int i = 0; i < c[1] - shortBy; ++i) ASSERT_EQ(iPktAddMessage(p, m), 0);
      const uint8_t *wire = static_cast<const uint8_t *>(p);
      Bytes before(wire, wire + capacity);
      EXPECT_EQ(iPktAddMessage(p, m), kPaktErrNoRoom);
      EXPECT_EQ(Bytes(wire, wire + capacity), before);
      EXPECT_EQ(dwPktGetPacketLength(p), static_cast<uint32_t>(18 + c[0] * (c[1] - shortBy)));
      EXPECT_EQ(iPktFreePacket(p), 0);
    }
    EXPECT_EQ(iMsgFreeMessage(m), 0);
  }
}

TEST(PaktPacketCapacity, MessageCountStopsAt65535) {
  const int kMost = 65535;
  void *p = pvPktAllocatePacket(18 + 4 * (kMost + 1));
  void *m = pvMsgAllocateMessage(4);
  ASSERT_NE(p, nullptr);
  ASSERT_NE(m, nullptr);
  int failures = 0;
  for (int i = 0; i < kMost; ++i) failures += iPktAddMessage(p, m) != 0;
  EXPECT_EQ(failures, 0);
  const uint8_t *wire = static_cast<const uint8_t *>(p);
  EXPECT_EQ(wire[16] | wire[17] << 8, kMost);
  EXPECT_EQ(dwPktGetPacketLength(p), 18u + 4u * kMost);
  EXPECT_EQ(iPktAddMessage(p, m), kPaktErrLength);
  EXPECT_EQ(wire[16] | wire[17] << 8, kMost);
  EXPECT_EQ(dwPktGetPacketLength(p), 18u + 4u * kMost);
  int walked = 0;
  for (void *w = pvPktGetNextMessagePointer(p, nullptr); w; w = pvPktGetNextMessagePointer(p, w)) {
    ++walked;
  }
  EXPECT_EQ(walked, kMost);
  EXPECT_EQ(iPktFreePacket(p), 0);
  EXPECT_EQ(iMsgFreeMessage(m), 0);
}

TEST(PaktClearing, MessageLosesItsFieldsAndType) {
  void *m = BuildMessage({0x4242, {{1, {1, 2}}, {2, {3}}}});
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(iMsgClearMessage(m), 0);
  const uint8_t *wire = static_cast<const uint8_t *>(m);
  EXPECT_EQ(Bytes(wire, wire + 4), Image().MessageHeader(0, 4).bytes());
  EXPECT_EQ(wMsgGetMessageType(m), 0);
  EXPECT_EQ(wMsgGetFirstField(m), 0);
  // The whole capacity is usable again.
  const uint8_t data[] = {7, 7, 7, 7, 7, 7};
  EXPECT_EQ(iMsgAddField(m, 5, 6, data), 0);
  EXPECT_EQ(DecodeFields(m), (std::vector<Field>{{5, {7, 7, 7, 7, 7, 7}}}));
  EXPECT_EQ(iMsgFreeMessage(m), 0);
}

TEST(PaktClearing, PacketReturnsToTheEmptyHeader) {
  void *p = pvPktAllocatePacket(100);
  void *m = BuildMessage({9, {{1, Bytes(40, 1)}}});
  ASSERT_NE(p, nullptr);
  ASSERT_NE(m, nullptr);
  vPktSetInternetAddress(p, 0x0100007Fu, 80);
  ASSERT_EQ(iPktAddMessage(p, m), 0);
  ASSERT_EQ(iPktAddMessage(p, m), kPaktErrNoRoom);
  EXPECT_EQ(iPktClearPacket(p), 0);
  const uint8_t *wire = static_cast<const uint8_t *>(p);
  EXPECT_EQ(Bytes(wire, wire + 18), Image().PacketHeader(18, 0).bytes());
  EXPECT_EQ(dwPktGetPacketLength(p), 18u);
  EXPECT_EQ(pvPktGetNextMessagePointer(p, nullptr), nullptr);
  // The capacity is free again.
  EXPECT_EQ(iPktAddMessage(p, m), 0);
  EXPECT_EQ(iPktAddMessage(p, m), kPaktErrNoRoom);
  EXPECT_EQ(iPktFreePacket(p), 0);
  EXPECT_EQ(iMsgFreeMessage(m), 0);
}

}  // namespace
}  // namespace pakt_test
