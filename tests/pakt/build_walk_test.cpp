// Packets built through the library and walked back, on the library's own objects and
// on copies of their bytes in plain buffers, as a receiver holds them.
#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>

#include "tests/pakt/pakt_test_support.h"

namespace pakt_test {
namespace {

// The worked example of docs/wire-format.md: address 192.0.2.7 (inet_addr's value on a
// little-endian host), socket 0x0104, two messages.
const std::vector<Message> kExampleMessages = {
    {0x0010, {{1, {0x01, 0x00}}, {2, {0xC8, 0x00, 0x00, 0x00}}}},
    {0x0020, {{7, {'A', 'B', 'C'}}, {8, {}}}},
};
const uint32_t kExampleAddress = 0x070200C0u;
const uint16_t kExampleSocket = 0x0104;
const Bytes kExampleWire = {
    0xEF, 0xBE, 0xAD, 0xDE, 0xC0, 0x00, 0x02, 0x07, 0x04, 0x01, 0x00, 0x00,  // header
    0x33, 0x00, 0x00, 0x00, 0x02, 0x00,                                      //
    0x10, 0x00, 0x12, 0x00,                                                  // message 1
    0x01, 0x00, 0x02, 0x00, 0x01, 0x00,                                      //   field 1
    0x02, 0x00, 0x04, 0x00, 0xC8, 0x00, 0x00, 0x00,                          //   field 2
    0x20, 0x00, 0x0F, 0x00,                                                  // message 2
    0x07, 0x00, 0x03, 0x00, 0x41, 0x42, 0x43,                                //   field 7
    0x08, 0x00, 0x00, 0x00,                                                  //   field 8
};

// Several messages, several fields each, including empty ones and repeated ids.
const std::vector<Message> kSeveralMessages = {
    {0x0001, {{10, {1, 2, 3, 4}}, {11, {5}}, {12, {}}, {10, {9, 9}}}},
    {0x0002, {}},
    {0xFFFF, {{0xFFFF, Bytes(300, 0xA5)}, {0, {0}}}},
    {0x1234, {{1, {'x'}}, {2, {'y', 'y'}}, {3, {'z', 'z', 'z'}}}},
};

int WireSize(const std::vector<Message> &messages) {
  int size = 18;
  for (const Message &m : messages) {
    size += 4;
    for (const Field &f : m.fields) size += 4 + static_cast<int>(f.data.size());
  }
  return size;
}

// Allocates a packet holding the messages (capacity exactly their size plus `spare`).
void *BuildPacket(const std::vector<Message> &messages, int spare = 0) {
  void *packet = pvPktAllocatePacket(WireSize(messages) + spare);
  for (const Message &description : messages) {
    void *message = BuildMessage(description);
    EXPECT_NE(message, nullptr);
    EXPECT_EQ(iPktAddMessage(packet, message), 0);
    EXPECT_EQ(iMsgFreeMessage(message), 0);
  }
  return packet;
}

class PaktBuildAndWalk : public ::testing::TestWithParam<std::vector<Message>> {};

TEST_P(PaktBuildAndWalk, AllocatedPacketWalksBackToTheSameMessages) {
  void *packet = BuildPacket(GetParam(), 7);
  ASSERT_NE(packet, nullptr);
  EXPECT_EQ(DecodePacket(packet), GetParam());
  EXPECT_EQ(iPktFreePacket(packet), 0);
}

TEST_P(PaktBuildAndWalk, CopyInExactBufferWalksBackToTheSameMessages) {
  void *packet = BuildPacket(GetParam());
  ASSERT_NE(packet, nullptr);
  const uint8_t *wire = static_cast<const uint8_t *>(packet);
  ExactBuffer copy(Bytes(wire, wire + dwPktGetPacketLength(packet)));
  EXPECT_EQ(iPktFreePacket(packet), 0);
  EXPECT_EQ(DecodePacket(copy.data()), GetParam());
}

TEST_P(PaktBuildAndWalk, CopyInLargerStackBufferWalksBackToTheSameMessages) {
  uint8_t received[5000];
  memset(received, 0xCC, sizeof received);  // stale bytes behind the packet
  void *packet = BuildPacket(GetParam());
  ASSERT_NE(packet, nullptr);
  ASSERT_LE(dwPktGetPacketLength(packet), sizeof received);
  memcpy(received, packet, dwPktGetPacketLength(packet));
  EXPECT_EQ(iPktFreePacket(packet), 0);
  EXPECT_EQ(DecodePacket(received), GetParam());
}

TEST_P(PaktBuildAndWalk, HeaderCountsMessagesAndBytes) {
  void *packet = BuildPacket(GetParam());
  ASSERT_NE(packet, nullptr);
  const uint8_t *wire = static_cast<const uint8_t *>(packet);
  EXPECT_EQ(dwPktGetPacketLength(packet), static_cast<uint32_t>(WireSize(GetParam())));
  EXPECT_EQ(wire[12] | wire[13] << 8 | wire[14] << 16 | wire[15] << 24, WireSize(GetParam()));
  EXPECT_EQ(wire[16] | wire[17] << 8, static_cast<int>(GetParam().size()));
  EXPECT_EQ(iPktFreePacket(packet), 0);
}

TEST_P(PaktBuildAndWalk, FieldByIdFindsEveryFieldInOrder) {
  void *packet = BuildPacket(GetParam());
  ASSERT_NE(packet, nullptr);
  void *m = pvPktGetNextMessagePointer(packet, nullptr);
  for (const Message &expected : GetParam()) {
    ASSERT_NE(m, nullptr);
    // Each id, searched for from the first field and then after each hit, yields the
    // fields with that id in wire order.
    for (const Field &f : expected.fields) {
      std::vector<Bytes> wanted, found;
      for (const Field &g : expected.fields) {
        if (g.id == f.id) wanted.push_back(g.data);
      }
      for (uint16_t h = wMsgGetFieldByID(m, f.id, wMsgGetFirstField(m)); h != 0;
           h = wMsgGetFieldByID(m, f.id, wMsgGetNextField(m, h))) {
        EXPECT_EQ(wMsgGetFieldID(m, h), f.id);
        const uint8_t *data = static_cast<const uint8_t *>(pvMsgGetField(m, h));
        found.push_back(Bytes(data, data + (data ? wMsgGetFieldLength(m, h) : 0)));
      }
      EXPECT_EQ(found, wanted) << "id " << f.id;
    }
    EXPECT_EQ(wMsgGetFieldByID(m, 0xBEEF, wMsgGetFirstField(m)), 0);
    m = pvPktGetNextMessagePointer(packet, m);
  }
  EXPECT_EQ(m, nullptr);
  EXPECT_EQ(iPktFreePacket(packet), 0);
}

INSTANTIATE_TEST_SUITE_P(Packets, PaktBuildAndWalk,
                         ::testing::Values(std::vector<Message>{}, kExampleMessages,
                                           kSeveralMessages));

TEST(PaktWireImage, ExamplePacketHasTheDocumentedBytes) {
  void *packet = BuildPacket(kExampleMessages);
  ASSERT_NE(packet, nullptr);
  vPktSetInternetAddress(packet, kExampleAddress, kExampleSocket);
  ASSERT_EQ(dwPktGetPacketLength(packet), kExampleWire.size());
  const uint8_t *wire = static_cast<const uint8_t *>(packet);
  EXPECT_EQ(Bytes(wire, wire + kExampleWire.size()), kExampleWire);
  EXPECT_EQ(iPktFreePacket(packet), 0);
}

TEST(PaktWireImage, AddingAMessageLeavesTheMessageAsItWas) {
  void *message = BuildMessage(kSeveralMessages[0]);
  void *packet = pvPktAllocatePacket(200);
  ASSERT_NE(message, nullptr);
  ASSERT_NE(packet, nullptr);
  const uint8_t *bytes = static_cast<const uint8_t *>(message);
  Bytes before(bytes, bytes + (bytes[2] | bytes[3] << 8));
  ASSERT_EQ(iPktAddMessage(packet, message), 0);
  ASSERT_EQ(iPktAddMessage(packet, message), 0);
  EXPECT_EQ(Bytes(bytes, bytes + before.size()), before);
  EXPECT_EQ(DecodePacket(packet), std::vector<Message>(2, kSeveralMessages[0]));
  EXPECT_EQ(iPktFreePacket(packet), 0);
  EXPECT_EQ(iMsgFreeMessage(message), 0);
}

TEST(PaktWireImage, SettingTheAddressTouchesOnlyTheLibraryBytes) {
  void *packet = BuildPacket(kExampleMessages);
  ASSERT_NE(packet, nullptr);
  const uint8_t *wire = static_cast<const uint8_t *>(packet);
  Bytes before(wire, wire + kExampleWire.size());
  vPktSetInternetAddress(packet, 0x04030201u, 0xA1B2);
  Bytes expected = before;
  const Bytes library = {0x01, 0x02, 0x03, 0x04, 0xB2, 0xA1, 0x00, 0x00};
  std::copy(library.begin(), library.end(), expected.begin() + 4);
  EXPECT_EQ(Bytes(wire, wire + kExampleWire.size()), expected);
  EXPECT_EQ(iPktFreePacket(packet), 0);
}

}  // namespace
}  // namespace pakt_test
