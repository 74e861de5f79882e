// A cold start that cannot create the socket-table event. The POSIX platform layer has a
// bounded handle table, which a test can fill; Windows offers no such lever.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/driver_instance.h"

namespace {

using namespace testing_support;

TEST(ColdStartFailure, WithoutTheEventNothingRunsAndNothingStaysAcquired) {
  HevCtlReset();
  int threads = ThreadCount();
  sim::Station station(StationOptions(1));
  ASSERT_TRUE(station.Start());
  DriverInstance driver;
  driver.WriteInitFile(10, {{1, TestAddress(1)}});
  std::vector<win::HANDLE> events;
  for (win::HANDLE event; (event = win::CreateEventA(nullptr, FALSE, TRUE, nullptr)) != nullptr;) {
    events.push_back(event);
  }
  LogCapture log;

  EXPECT_EQ(driver.ColdStart(), 2);

  for (win::HANDLE event : events) win::CloseHandle(event);
  std::vector<std::string> lines = log.Texts();
  EXPECT_NE(
      std::find(lines.begin(), lines.end(), "OxaDOV01: Failed to create 'WriteToSockArry' event !"),
      lines.end());
  EXPECT_EQ(HevCtlClientCount(), 0);
  EXPECT_TRUE(sim::WaitUntil([&] { return !station.IsConnected(); }, 10000));
  // Quietly: no goodbye to the station and none of driver end's lines.
  EXPECT_TRUE(station.Received().empty());
  for (const std::string &line : lines) EXPECT_EQ(line.find("EndOxa()"), std::string::npos) << line;
  EXPECT_TRUE(HevWaitUntil([&] { return ThreadCount() == threads + 1; }, 10000))
      << "only the station's own thread may remain";
  EXPECT_EQ(driver.EndOxa(), 0);
}

}  // namespace
