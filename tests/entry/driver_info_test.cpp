// The driver information command and the receive time-out command, byte for byte.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "lifecycle/banner.h"
#include "tests/support/driver_harness.h"

namespace {

using testing_support::HostBlock;
using testing_support::Send;

constexpr int kDriverInfo = 14;
constexpr int kSetReceiveTimeout = 15;

// The banner as an operator sees it, written out line by line in code page 437.
std::string ExpectedBanner() {
  const std::string bar = "\xB3";
  std::string title = bar + " " + std::string(5, '\xDB') + std::string(6, '\xB2') +
                      std::string(6, '\xB1') + std::string(5, '\xB0') + " O X A C N T " +
                      std::string(5, '\xB0') + std::string(6, '\xB1') + std::string(6, '\xB2') +
                      std::string(5, '\xDB') + " " + bar;
  std::string version = "Version 7.50";
  version.resize(59, ' ');
  return "\n"
         "\xDA" +
         std::string(59, '\xC4') + "\xBF\n" + title + "\n" + bar + std::string(19, ' ') +
         "DOV Driver installed." + std::string(19, ' ') + bar + "\n" + bar +
         "     CountNet Particle Counters,        Ethernet TCP/IP    " + bar + "\n" + bar +
         version + bar + "\n" + "\xC0" + std::string(59, '\xC4') + "\xD9\n";
}

std::int32_t Int32At(const unsigned char *p) {
  std::int32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

const char *PointerAt(const unsigned char *p) {
  const char *v;
  std::memcpy(&v, p, 4);
  return v;
}

TEST(DriverInfo, FillsTheRecordAndLeavesTheHostsBytesAlone) {
  // The record sits between guard bytes, at an odd address, as a host may place it.
  unsigned char area[3 + 32 + 8];
  std::memset(area, 0x5A, sizeof area);
  unsigned char *record = area + 3;

  ASSERT_EQ(Send(nullptr, kDriverInfo, record), 0);  // needs no instance block

  EXPECT_EQ(Int32At(record + 0), 70);
  EXPECT_STREQ(PointerAt(record + 4), "DOV TCP/IP");
  EXPECT_EQ(std::string(PointerAt(record + 8)), ExpectedBanner());
  EXPECT_EQ(Int32At(record + 12), 272401);
  EXPECT_EQ(Int32At(record + 16), 1);
  EXPECT_EQ(Int32At(record + 28), 3);
  for (int i : {0, 1, 2, 3 + 20, 3 + 21, 3 + 22, 3 + 23, 3 + 24, 3 + 25, 3 + 26, 3 + 27, 35, 36, 37,
                38, 39, 40, 41, 42}) {
    EXPECT_EQ(area[i], 0x5A) << "byte " << i << " of the guarded area";
  }
}

TEST(DriverInfo, BannerIsSixFullWidthLinesAfterANewline) {
  std::string banner = Banner();
  ASSERT_EQ(banner.size(), 373u);
  EXPECT_EQ(banner[0], '\n');
  for (int line = 0; line < 6; ++line) {
    std::size_t start = 1 + line * 62;
    EXPECT_EQ(banner.find('\n', start), start + 61) << "line " << line + 1;
  }
}

TEST(ReceiveTimeout, ZeroKeepsTheTimeOutAndAnyOtherValueReplacesIt) {
  struct Case {
    std::int32_t sent;
    std::int32_t expected;
  } cases[] = {{0, 1234}, {250, 250}, {-5, -5}};
  for (const Case &c : cases) {
    HostBlock block(0xEE);
    block.get()->receiveTimeoutMs.Set(1234);
    std::vector<unsigned char> before = block.Snapshot();
    unsigned char params[16];
    std::memset(params, 0, sizeof params);
    std::memcpy(params + 12, &c.sent, 4);

    EXPECT_EQ(Send(block.get(), kSetReceiveTimeout, params), 0);

    EXPECT_EQ(block.get()->receiveTimeoutMs.Get(), c.expected) << "sent " << c.sent;
    std::vector<unsigned char> after = block.Snapshot();
    EXPECT_TRUE(std::equal(before.begin() + 4, before.end(), after.begin() + 4))
        << "only the time-out may change";
  }
}

}  // namespace
