// Command dispatch through the exported entry point: every code, in range or not.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "entry/oxa_main.h"
#include "tests/support/driver_harness.h"

namespace {

using testing_support::HostBlock;
using testing_support::LogCapture;
using testing_support::Send;

// Codes whose command this driver does not have, plus the unsupported 12 and 13, must be
// refused with 2, change nothing and log nothing, whatever the block holds.
TEST(Dispatch, CodesWithoutAHandlerAreRefusedWithoutEffect) {
  const std::int32_t codes[] = {INT_MIN, -100, -1, 0, 8, 9, 12, 13, 16, 17, 255, 65536, INT_MAX};
  for (std::int32_t code : codes) {
    LogCapture log;
    HostBlock block(0xFF);
    std::vector<unsigned char> before = block.Snapshot();
    unsigned char params[64];
    std::memset(params, 0xAB, sizeof params);

    EXPECT_EQ(Send(block.get(), code, params), 2) << "code " << code;

    EXPECT_EQ(block.Snapshot(), before) << "code " << code << " changed the instance block";
    for (unsigned char b : params) ASSERT_EQ(b, 0xAB) << "code " << code << " wrote parameters";
    EXPECT_TRUE(log.Lines().empty()) << "code " << code << " logged";
  }
}

TEST(Dispatch, OnlyTheCommandsOfTheTableHaveHandlers) {
  for (std::int32_t code = -2; code < 18; ++code) {
    bool expected = code >= 1 && code <= 15 && code != 8 && code != 9;
    EXPECT_EQ(FindCommandHandler(code) != nullptr, expected) << "code " << code;
  }
}

TEST(Dispatch, ANullCommandBlockIsRefused) {
  EXPECT_EQ(OxaMain(nullptr), 2);
}

}  // namespace
