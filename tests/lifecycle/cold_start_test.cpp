// Cold start while the host only installs the driver.
#include <gtest/gtest.h>

#include <cstring>

#include "hevpro/hevpro_control.h"
#include "tests/support/driver_harness.h"

namespace {

using testing_support::HostBlock;
using testing_support::LogCapture;
using testing_support::Send;

constexpr int kColdStart = 1;

TEST(ColdStart, InstallationCallRecordsItselfAndDoesNothingElse) {
  HevCtlReset();
  LogCapture log;
  HostBlock host(0xFF);
  std::vector<unsigned char> before = host.Snapshot();
  unsigned char params[20];
  std::memset(params, 0, sizeof params);  // run flag 0 at offset 12

  EXPECT_EQ(Send(host.get(), kColdStart, params, 7), 0);

  EXPECT_EQ(host.get()->started.Get(), 0);
  std::vector<unsigned char> after = host.Snapshot();
  EXPECT_TRUE(std::equal(before.begin() + 10, before.end(), after.begin() + 10));
  EXPECT_EQ(host.get()->instanceNumber.Get(), 0xFFFF) << "not set by an installation call";
  EXPECT_EQ(HevCtlClientCount(), 0);
  auto lines = log.Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].level, 32);
  EXPECT_EQ(lines[0].text, "DEVADO> version compiled on Feb 15 2001 at time 15:56:03");
}

}  // namespace
