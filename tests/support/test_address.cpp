#include <gtest/gtest.h>

#include "tests/support/loopback.h"

namespace testing_support {

std::string TestAddress(int n) {
  const testing::TestInfo *test = testing::UnitTest::GetInstance()->current_test_info();
  std::string name =
      test == nullptr ? "" : std::string(test->test_suite_name()) + "." + test->name();
  return LoopbackAddressFor(name, n);
}

}  // namespace testing_support
