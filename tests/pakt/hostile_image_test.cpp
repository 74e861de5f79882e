// Received images that lie about their lengths. Each image sits in a buffer exactly as
// long as its declared bounds allow, so a read past them is an AddressSanitizer error.
#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>
#include <string>

#include "tests/pakt/pakt_test_support.h"

namespace pakt_test {
namespace {

struct PacketCase {
  std::string name;
  Bytes image;
  std::vector<int> messageOffsets;  // what the walk hands out
};

std::ostream &operator<<(std::ostream &os, const PacketCase &c) {
  return os << c.name;
}

std::vector<int> WalkOffsets(uint8_t *packet) {
  std::vector<int> offsets;
  for (void *m = pvPktGetNextMessagePointer(packet, nullptr); m != nullptr;
       m = pvPktGetNextMessagePointer(packet, m)) {
    offsets.push_back(static_cast<int>(static_cast<uint8_t *>(m) - packet));
    DecodeFields(m);  // reading the fields must stay inside the message too
  }
  return offsets;
}

Bytes MessageWithLength(uint16_t length) {
  return Image().PacketHeader(22, 1).MessageHeader(1, length).bytes();
}

const PacketCase kPacketCases[] = {
    {"TotalBelowHeader", Image().PacketHeader(17, 1).bytes(), {}},
    {"TotalZero", Image().PacketHeader(0, 1).bytes(), {}},
    {"TotalMinusOne", Image().PacketHeader(-1, 1).bytes(), {}},
    {"TotalMostNegative", Image().PacketHeader(INT32_MIN, 1).bytes(), {}},
    {"EmptyPacketClaimingThreeMessages", Image().PacketHeader(18, 3).bytes(), {}},
    {"TwoMessages",
     Image().PacketHeader(30, 2).MessageHeader(1, 8).Field(1, {}).MessageHeader(2, 4).bytes(),
     {18, 26}},
    {"CountLargerThanContent", Image().PacketHeader(22, 5).MessageHeader(1, 4).bytes(), {18}},
    {"TotalLongerThanTheMessages",
     Image().PacketHeader(25, 1).MessageHeader(1, 4).Raw({7, 7, 7}).bytes(),
     {18}},
    {"MessageHeaderCutByTotal", Image().PacketHeader(20, 1).U16(1).bytes(), {}},
    {"MessageLength0", MessageWithLength(0), {}},
    {"MessageLength1", MessageWithLength(1), {}},
    {"MessageLength2", MessageWithLength(2), {}},
    {"MessageLength3", MessageWithLength(3), {}},
    {"MessageLength65535", MessageWithLength(0xFFFF), {}},
    {"MessageOverrunsTotalByOne",
     Image().PacketHeader(26, 1).MessageHeader(1, 9).Field(1, {}).bytes(),
     {}},
    {"SecondMessageOverruns",
     Image().PacketHeader(28, 2).MessageHeader(1, 4).MessageHeader(2, 7).Raw({1, 2}).bytes(),
     {18}},
    {"ZeroLengthMessageAfterGoodOne",
     Image().PacketHeader(26, 2).MessageHeader(1, 4).MessageHeader(2, 0).bytes(),
     {18}},
    {"FieldOverrunsItsMessage",
     Image().PacketHeader(30, 2).MessageHeader(1, 8).U16(1).U16(50).MessageHeader(2, 4).bytes(),
     {18, 26}},
};

class PaktHostilePacket : public ::testing::TestWithParam<PacketCase> {};

TEST_P(PaktHostilePacket, WalkHandsOutOnlyMessagesInsideTheTotal) {
  ExactBuffer buffer(GetParam().image);
  EXPECT_EQ(WalkOffsets(buffer.data()), GetParam().messageOffsets);
}

// The same image received into an allocated packet of exactly that size.
TEST_P(PaktHostilePacket, AllocatedPacketWalksTheSame) {
  const Bytes &image = GetParam().image;
  uint8_t *packet = static_cast<uint8_t *>(pvPktAllocatePacket(static_cast<int>(image.size())));
  ASSERT_NE(packet, nullptr);
  memcpy(packet, image.data(), image.size());
  EXPECT_EQ(WalkOffsets(packet), GetParam().messageOffsets);
  EXPECT_EQ(iPktFreePacket(packet), 0);
}

INSTANTIATE_TEST_SUITE_P(Images, PaktHostilePacket, ::testing::ValuesIn(kPacketCases),
                         [](const ::testing::TestParamInfo<PacketCase> &info) {
                           return info.param.name;
                         });

TEST(PaktPacketWalk, PreviousPointerMustBeAMessageInsideThePacket) {
  // Message 1 at 18 (length 8, holding an empty field at 22), message 2 at 26, total 30.
  ExactBuffer buffer(
      Image().PacketHeader(30, 2).MessageHeader(1, 8).Field(1, {}).MessageHeader(2, 4).bytes());
  uint8_t *p = buffer.data();
  // {previous offset, expected next offset or -1 for none}
  const int cases[][2] = {{0, -1},  {4, -1},  {17, -1}, {18, 26}, {22, -1},
                          {23, -1}, {26, -1}, {27, -1}, {29, -1}, {30, -1}};
  for (const auto &c : cases) {
    void *next = pvPktGetNextMessagePointer(p, p + c[0]);
    EXPECT_EQ(next, c[1] < 0 ? nullptr : p + c[1]) << "previous at " << c[0];
  }
  // A previous message shorter than its own header cannot lead anywhere, even when the
  // bytes after it would read as a message (here at 20, length 4).
  ExactBuffer shortOne(Image().PacketHeader(24, 1).MessageHeader(1, 2).U16(4).U16(0).bytes());
  EXPECT_EQ(pvPktGetNextMessagePointer(shortOne.data(), shortOne.data() + 18), nullptr);
  uint8_t elsewhere[64] = {};
  EXPECT_EQ(pvPktGetNextMessagePointer(p, elsewhere), nullptr);
  EXPECT_EQ(pvPktGetNextMessagePointer(elsewhere, p), nullptr);  // total 0
  EXPECT_EQ(pvPktGetNextMessagePointer(nullptr, nullptr), nullptr);
  EXPECT_EQ(pvPktGetNextMessagePointer(nullptr, p + 18), nullptr);
}

TEST(PaktPacketWalk, AllocatedPacketBoundsTheWalkByItsCapacity) {
  // The header claims 1000 bytes, the packet holds 30: one message, then a message whose
  // length lies inside the claim but outside the allocation.
  const Bytes image =
      Image().PacketHeader(1000, 3).MessageHeader(1, 8).Field(1, {}).MessageHeader(2, 20).bytes();
  uint8_t *packet = static_cast<uint8_t *>(pvPktAllocatePacket(static_cast<int>(image.size())));
  ASSERT_NE(packet, nullptr);
  memcpy(packet, image.data(), image.size());
  EXPECT_EQ(WalkOffsets(packet), std::vector<int>{18});
  EXPECT_EQ(dwPktGetPacketLength(packet), 1000u);
  // Appending behind a total outside the object would write out of bounds.
  void *m = pvMsgAllocateMessage(4);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(iPktAddMessage(packet, m), kPaktErrLength);
  memcpy(packet + 12, Image().I32(17).bytes().data(), 4);
  EXPECT_EQ(iPktAddMessage(packet, m), kPaktErrLength);
  EXPECT_EQ(iPktFreePacket(packet), 0);
  EXPECT_EQ(iMsgFreeMessage(m), 0);
}

TEST(PaktMessageFields, CorruptLengthWordIsNotAppendedBehind) {
  void *m = pvMsgAllocateMessage(16);
  void *p = pvPktAllocatePacket(100);
  ASSERT_NE(m, nullptr);
  ASSERT_NE(p, nullptr);
  uint8_t *wire = static_cast<uint8_t *>(m);
  for (uint16_t length : {0, 3, 17, 0xFFFF}) {
    wire[2] = static_cast<uint8_t>(length);
    wire[3] = static_cast<uint8_t>(length >> 8);
    EXPECT_EQ(iMsgAddField(m, 1, 0, nullptr), kPaktErrLength) << length;
    EXPECT_EQ(iPktAddMessage(p, m), kPaktErrLength) << length;
  }
  EXPECT_EQ(dwPktGetPacketLength(p), 18u);
  EXPECT_EQ(iPktFreePacket(p), 0);
  EXPECT_EQ(iMsgFreeMessage(m), 0);
}

struct MessageCase {
  std::string name;
  Bytes image;
  std::vector<int> handles;  // what the first/next walk hands out
};

std::ostream &operator<<(std::ostream &os, const MessageCase &c) {
  return os << c.name;
}

// A message image in a buffer of its declared length, or of its header when the length
// is below that.
ExactBuffer MessageBuffer(const Bytes &image) {
  size_t declared = image[2] | image[3] << 8;
  return ExactBuffer(Bytes(image.begin(), image.begin() + std::max<size_t>(declared, 4)));
}

const MessageCase kMessageCases[] = {
    {"NoFields", Image().MessageHeader(1, 4).bytes(), {}},
    {"Length0", Image().MessageHeader(1, 0).bytes(), {}},
    {"Length3", Image().MessageHeader(1, 3).bytes(), {}},
    {"TwoFields", Image().MessageHeader(1, 13).Field(1, {0xAA}).Field(2, {}).bytes(), {4, 9}},
    {"ZeroLengthField", Image().MessageHeader(1, 8).Field(5, {}).bytes(), {4}},
    {"FieldOverrunsMessage", Image().MessageHeader(1, 10).U16(1).U16(3).Raw({1, 2}).bytes(), {}},
    {"FieldLength65535", Image().MessageHeader(1, 8).U16(1).U16(0xFFFF).bytes(), {}},
    {"SecondFieldOverruns",
     Image().MessageHeader(1, 14).Field(1, {1}).U16(2).U16(2).Raw({9}).bytes(),
     {4}},
    {"FieldHeaderCut", Image().MessageHeader(1, 11).Field(1, {1}).U16(2).bytes(), {4}},
    {"MessageShorterThanFieldHeader", Image().MessageHeader(1, 6).U16(1).bytes(), {}},
};

class PaktHostileMessage : public ::testing::TestWithParam<MessageCase> {};

TEST_P(PaktHostileMessage, FieldWalkHandsOutOnlyFieldsInsideTheMessage) {
  ExactBuffer buffer = MessageBuffer(GetParam().image);
  void *m = buffer.data();
  EXPECT_EQ(wMsgGetMessageType(m), 1);
  std::vector<int> handles;
  for (uint16_t h = wMsgGetFirstField(m); h != 0; h = wMsgGetNextField(m, h)) {
    handles.push_back(h);
  }
  EXPECT_EQ(handles, GetParam().handles);
  // Searching by id finds exactly the walked fields, and no field beyond them.
  for (uint16_t id = 0; id < 4; ++id) {
    uint16_t expected = 0;
    for (int h : handles) {
      if (wMsgGetFieldID(m, static_cast<uint16_t>(h)) == id) {
        expected = static_cast<uint16_t>(h);
        break;
      }
    }
    EXPECT_EQ(wMsgGetFieldByID(m, id, 4), expected) << "id " << id;
  }
}

INSTANTIATE_TEST_SUITE_P(Images, PaktHostileMessage, ::testing::ValuesIn(kMessageCases),
                         [](const ::testing::TestParamInfo<MessageCase> &info) {
                           return info.param.name;
                         });

TEST(PaktMessageFields, ZeroLengthFieldHasAnIdButNoData) {
  ExactBuffer buffer(Image().MessageHeader(1, 8).Field(5, {}).bytes());
  EXPECT_EQ(wMsgGetFieldID(buffer.data(), 4), 5);
  EXPECT_EQ(wMsgGetFieldLength(buffer.data(), 4), 0);
  EXPECT_EQ(pvMsgGetField(buffer.data(), 4), nullptr);
  EXPECT_EQ(wMsgGetFieldByID(buffer.data(), 5, 4), 4);
}

TEST(PaktMessageFields, InvalidHandlesReadNothing) {
  // Fields at 4 (id 1, one byte) and 9 (id 2, empty); the message is 13 bytes.
  ExactBuffer buffer(Image().MessageHeader(1, 13).Field(1, {0xAA}).Field(2, {}).bytes());
  void *m = buffer.data();
  for (uint16_t h : {0, 1, 2, 3, 10, 12, 13, 14, 200, 0xFFFF}) {
    SCOPED_TRACE(::testing::Message() << "handle " << h);
    EXPECT_EQ(wMsgGetFieldID(m, h), 0);
    EXPECT_EQ(wMsgGetFieldLength(m, h), 0);
    EXPECT_EQ(pvMsgGetField(m, h), nullptr);
    EXPECT_EQ(wMsgGetNextField(m, h), 0);
    EXPECT_EQ(wMsgGetFieldByID(m, 1, h), 0);
    EXPECT_EQ(wMsgGetFieldByID(m, 2, h), 0);
  }
  EXPECT_EQ(wMsgGetFieldByID(m, 2, 4), 9);
  EXPECT_EQ(wMsgGetNextField(m, 9), 0);
  EXPECT_EQ(*static_cast<uint8_t *>(pvMsgGetField(m, 4)), 0xAA);
}

TEST(PaktMessageFields, NullMessageReadsAsEmpty) {
  EXPECT_EQ(wMsgGetMessageType(nullptr), 0);
  EXPECT_EQ(wMsgGetFirstField(nullptr), 0);
  EXPECT_EQ(wMsgGetNextField(nullptr, 4), 0);
  EXPECT_EQ(wMsgGetFieldByID(nullptr, 0, 4), 0);
  EXPECT_EQ(wMsgGetFieldID(nullptr, 4), 0);
  EXPECT_EQ(wMsgGetFieldLength(nullptr, 4), 0);
  EXPECT_EQ(pvMsgGetField(nullptr, 4), nullptr);
  EXPECT_EQ(dwPktGetPacketLength(nullptr), 0u);
}

}  // namespace
}  // namespace pakt_test
