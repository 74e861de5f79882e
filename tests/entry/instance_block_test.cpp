// The instance block as the host sees it: which bytes the accessors and the defaults
// write, at the fixed (often unaligned) offsets.
#include <gtest/gtest.h>

#include <cstring>

#include "contracts/instance_block.h"
#include "tests/support/driver_harness.h"

namespace {

using testing_support::HostBlock;

std::int32_t Int32At(const unsigned char *bytes, std::size_t offset) {
  std::int32_t v;
  std::memcpy(&v, bytes + offset, 4);
  return v;
}

TEST(InstanceBlock, DefaultsTouchOnlyTheirFields) {
  HostBlock host(0xFF);
  unsigned char *raw = host.bytes();
  ApplyDefaults(*host.get());

  for (int n = 0; n < kStationCount; ++n) {
    std::size_t entry = 10 + 40 * static_cast<std::size_t>(n);
    for (std::size_t i = 0; i < 16; ++i) ASSERT_EQ(raw[entry + i], 0) << "station " << n;
    for (std::size_t i = 16; i < 24; ++i) ASSERT_EQ(raw[entry + i], 0xFF) << "station " << n;
    ASSERT_EQ(Int32At(raw, entry + 24), 0) << "packet of station " << n;
    ASSERT_EQ(Int32At(raw, entry + 28), 0) << "message of station " << n;
    for (std::size_t i = 32; i < 36; ++i) ASSERT_EQ(raw[entry + i], 0xFF) << "station " << n;
    ASSERT_EQ(Int32At(raw, entry + 36), -1) << "socket of station " << n;
  }
  EXPECT_EQ(raw[10251], 10);
  EXPECT_EQ(raw[10252], 0);
  for (std::size_t g = 0; g < kChannelGateFlagCount; ++g) {
    ASSERT_EQ(Int32At(raw, 10253 + 4 * g), 0) << "flag of gate " << g;
  }
  EXPECT_EQ(Int32At(raw, 272397), 0);

  // Fields that cold start sets itself stay as the host left them.
  for (std::size_t i = 0; i < 10; ++i) EXPECT_EQ(raw[i], 0xFF) << "header byte " << i;
  EXPECT_EQ(raw[10250], 0xFF);
  EXPECT_EQ(Int32At(raw, 272393), -1);
}

TEST(InstanceBlock, AccessorsWriteLittleEndianAtTheFixedOffsets) {
  HostBlock host(0);
  InstanceBlock *block = host.get();
  const unsigned char *raw = host.bytes();

  block->receiveTimeoutMs.Set(0x01020304);
  block->instanceNumber.Set(0x0A0B);
  block->started.Set(0x11121314);
  block->stations[255].socket.Store(0x21222324);
  block->stations[1].packet.Set(reinterpret_cast<void *>(0x31323334));
  block->clientId = 0x41;
  block->updateRate.Set(0x5152);
  block->channelGateFlags[65534].Store(0x61626364);
  block->socketTableEvent.Set(reinterpret_cast<void *>(0x71727374));
  block->stopFlag.Store(0x01);

  struct Expect {
    std::size_t offset;
    std::vector<unsigned char> bytes;
  } expected[] = {
      {0, {0x04, 0x03, 0x02, 0x01}},
      {4, {0x0B, 0x0A}},
      {6, {0x14, 0x13, 0x12, 0x11}},
      {10246, {0x24, 0x23, 0x22, 0x21}},  // station 255's socket ends the table at 10249
      {74, {0x34, 0x33, 0x32, 0x31}},
      {10250, {0x41}},
      {10251, {0x52, 0x51}},
      {10253 + 4 * 65534, {0x64, 0x63, 0x62, 0x61}},
      {272393, {0x74, 0x73, 0x72, 0x71}},
      {272397, {0x01, 0x00, 0x00, 0x00}},
  };
  for (const Expect &e : expected) {
    for (std::size_t i = 0; i < e.bytes.size(); ++i) {
      EXPECT_EQ(raw[e.offset + i], e.bytes[i]) << "offset " << e.offset + i;
    }
  }
  EXPECT_EQ(block->stations[255].socket.Load(), 0x21222324);
  EXPECT_EQ(block->updateRate.Get(), 0x5152);
  EXPECT_EQ(block->channelGateFlags[65534].Load(), 0x61626364);
}

}  // namespace
