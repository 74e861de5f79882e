#include <gtest/gtest.h>

#include <cstdint>

#include "tests/support/loopback.h"

namespace testing_support {

std::string TestAddress(int n) {
  const testing::TestInfo *test = testing::UnitTest::GetInstance()->current_test_info();
  std::string name =
      test == nullptr ? "" : std::string(test->test_suite_name()) + "." + test->name();
  std::uint32_t hash = 2166136261u;  // FNV-1a
  for (unsigned char c : name) hash = (hash ^ c) * 16777619u;
  hash += static_cast<std::uint32_t>(n);
  return "127." + std::to_string(1 + hash % 254) + "." + std::to_string(hash / 254 % 256) + "." +
         std::to_string(1 + hash / 254 / 256 % 254);
}

}  // namespace testing_support
