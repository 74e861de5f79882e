// The init file: which lines set what, which are refused with which words, and which
// are passed over without a word.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "config/init_file.h"
#include "tests/support/driver_harness.h"
#include "tests/support/work_directory.h"

namespace {

using testing_support::HostBlock;
using testing_support::LogCapture;
using testing_support::WorkDirectory;

constexpr int kInstance = 3;

std::string Rejected(const std::string &line, const char *problem) {
  return "DEVADO03: ReadInitFile() File 'DEVADO03.int' Line '" + line + "' " + problem;
}
std::string StationSet(int station, const std::string &address) {
  return "DEVADO03: ReadInitFile() IP address of station " + std::to_string(station) + " set to " +
         address;
}
std::string RateSet(int rate) {
  return "DEVADO03: ReadInitFile() Setting Update Rate for tags to " + std::to_string(rate) +
         " Secs";
}

struct InitCase {
  const char *name;
  std::vector<std::string> lines;
  int updateRate;
  std::map<int, std::string> stations;
  std::vector<std::string> log;
};

std::ostream &operator<<(std::ostream &os, const InitCase &c) {
  return os << c.name;
}

const InitCase kCases[] = {
    {"Example",
     {"UPDATE RATE = 30", "001 = 192.168.10.21", "002 = 192.168.10.22", "stations of hall B",
      "300 = 192.168.10.30"},
     30,
     {{1, "192.168.10.21"}, {2, "192.168.10.22"}},
     {RateSet(30), StationSet(1, "192.168.10.21"), StationSet(2, "192.168.10.22"),
      Rejected("300 = 192.168.10.30", "invalid station number")}},
    {"Empty", {}, 10, {}, {}},
    {"UpdateRateLimits",
     {"UPDATE RATE = 0", "UPDATE RATE = 1001", "UPDATE RATE = 1000", "UPDATE RATE = 1"},
     1,
     {},
     {Rejected("UPDATE RATE = 0", "invalid update rate"),
      Rejected("UPDATE RATE = 1001", "invalid update rate"), RateSet(1000), RateSet(1)}},
    {"UpdateRateTooLargeForThirtyTwoBitsIsNotWrapped",
     {"UPDATE RATE = 4294967306", "UPDATE RATE = -4294967295"},
     10,
     {},
     {Rejected("UPDATE RATE = 4294967306", "invalid update rate"),
      Rejected("UPDATE RATE = -4294967295", "invalid update rate")}},
    {"BlanksAreOptionalButCaseIsNot",
     {"UPDATERATE=5", "update rate = 7", "  001=10.0.0.1"},
     5,
     {{1, "10.0.0.1"}},
     {RateSet(5), StationSet(1, "10.0.0.1")}},
    {"StationNumbers",
     {"0 = 10.0.0.1", "256 = 10.0.0.1", "1000 = 10.0.0.1", "255 = 10.0.0.2"},
     10,
     {{255, "10.0.0.2"}},
     {Rejected("0 = 10.0.0.1", "invalid station number"),
      Rejected("256 = 10.0.0.1", "invalid station number"), StationSet(255, "10.0.0.2")}},
    {"Addresses",
     {"12 = 10.0.0", "12 = 10.0.0.256", "12 = 10.0.0.255", "13 = 192.168.100.100x",
      "14 = 10.0.0.1junk", "15 = 127.0.0.1.5", "16 = +1.2.3.4", "17 = 255.255.255.255"},
     10,
     {{12, "10.0.0.255"}},
     {Rejected("12 = 10.0.0", "invalid IP address"),
      Rejected("12 = 10.0.0.256", "invalid IP address"), StationSet(12, "10.0.0.255"),
      Rejected("13 = 192.168.100.100x", "invalid IP address"),
      Rejected("14 = 10.0.0.1junk", "invalid IP address"),
      Rejected("15 = 127.0.0.1.5", "invalid IP address"),
      Rejected("16 = +1.2.3.4", "invalid IP address"),
      Rejected("17 = 255.255.255.255", "invalid IP address")}},
    {"LaterLineWins",
     {"005 = 10.0.0.1", "5 = 10.0.0.2"},
     10,
     {{5, "10.0.0.2"}},
     {StationSet(5, "10.0.0.1"), StationSet(5, "10.0.0.2")}},
    {"OnlyTheLastCharacterIsTrimmed",
     {"001 = 10.0.0.1 \t"},
     10,
     {{1, "10.0.0.1"}},
     {StationSet(1, "10.0.0.1")}},
    {"LongLinesAreReadInPieces",
     {std::string(255, ' ') + "001 = 10.0.0.9"},
     10,
     {{1, "10.0.0.9"}},
     {StationSet(1, "10.0.0.9")}},
};

class InitFile : public testing::TestWithParam<InitCase> {};

void ExpectBlock(InstanceBlock *block, const InitCase &c) {
  EXPECT_EQ(block->updateRate.Get(), c.updateRate);
  for (int n = 0; n < kStationCount; ++n) {
    auto it = c.stations.find(n);
    std::string expected = it == c.stations.end() ? "" : it->second;
    EXPECT_EQ(std::string(block->stations[n].ipAddress), expected) << "station " << n;
    EXPECT_EQ(block->stations[n].ipAddress[15], '\0') << "station " << n;
  }
}

TEST_P(InitFile, SetsWhatItsLinesSayAndLogsEveryDecision) {
  const InitCase &c = GetParam();
  for (const char *lineEnd : {"\n", "\r\n"}) {
    WorkDirectory directory;
    directory.WriteInitFile(kInstance, c.lines, lineEnd);
    HostBlock host(0xFF);
    ApplyDefaults(*host.get());
    host.get()->instanceNumber.Set(kInstance);
    LogCapture log;

    EXPECT_EQ(ReadInitFile(host.get()), 1);

    ExpectBlock(host.get(), c);
    EXPECT_EQ(log.Texts(), c.log) << (lineEnd[0] == '\r' ? "CR LF" : "LF");
  }
}

INSTANTIATE_TEST_SUITE_P(Lines, InitFile, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<InitCase> &info) {
                           return std::string(info.param.name);
                         });

TEST(InitFile, TheThousandAndFirstLineIsNeverRead) {
  WorkDirectory directory;
  std::vector<std::string> lines(999, "remark");
  lines.push_back("001 = 10.0.0.1");
  lines.push_back("002 = 10.0.0.2");
  directory.WriteInitFile(kInstance, lines);
  HostBlock host(0);
  ApplyDefaults(*host.get());
  host.get()->instanceNumber.Set(kInstance);
  EXPECT_EQ(ReadInitFile(host.get()), 1);
  EXPECT_STREQ(host.get()->stations[1].ipAddress, "10.0.0.1");
  EXPECT_STREQ(host.get()->stations[2].ipAddress, "");
}

TEST(InitFile, AMissingFileChangesNothing) {
  WorkDirectory directory;
  HostBlock host(0x5A);
  host.get()->instanceNumber.Set(kInstance);
  std::vector<unsigned char> before = host.Snapshot();
  LogCapture log;
  EXPECT_EQ(ReadInitFile(host.get()), 0);
  EXPECT_EQ(host.Snapshot(), before);
  EXPECT_EQ(log.Texts(), std::vector<std::string>{"DEVADO03: ReadInitFile() File 'DEVADO03.int' "
                                                  "not found. Driver not loaded!"});
}

TEST(InitFile, AFolderOfThatNameIsAFileThatCannotBeRead) {
  WorkDirectory directory;
  std::filesystem::create_directory("DEVADO03.int");  // in the test's current directory
  HostBlock host(0x5A);
  host.get()->instanceNumber.Set(kInstance);
  LogCapture log;
  EXPECT_EQ(ReadInitFile(host.get()), 0);
  EXPECT_EQ(log.Texts(), std::vector<std::string>{"DEVADO03: ReadInitFile() File 'DEVADO03.int' "
                                                  "not found. Driver not loaded!"});
}

// The sample that ships with the packages: its remarks must stay remarks, with either line
// end (the Windows package carries it with CR LF).
TEST(InitFile, TheSampleSetsItsThreeLinesAndPassesOverItsRemarks) {
  std::ifstream sample(DEVADO_SAMPLE_INIT_FILE, std::ios::binary);  // before leaving the cwd
  ASSERT_TRUE(sample) << DEVADO_SAMPLE_INIT_FILE;
  std::stringstream content;
  content << sample.rdbuf();
  std::vector<std::string> lines;
  for (std::string line; std::getline(content, line);) lines.push_back(line);
  ASSERT_GT(lines.size(), 3u);
  for (const char *lineEnd : {"\n", "\r\n"}) {
    WorkDirectory directory;
    directory.WriteInitFile(kInstance, lines, lineEnd);
    HostBlock host(0xFF);
    ApplyDefaults(*host.get());
    host.get()->instanceNumber.Set(kInstance);
    LogCapture log;

    EXPECT_EQ(ReadInitFile(host.get()), 1);

    ExpectBlock(host.get(), {"Sample", {}, 10, {{1, "192.168.10.21"}, {2, "192.168.10.22"}}, {}});
    EXPECT_EQ(log.Texts(), (std::vector<std::string>{RateSet(10), StationSet(1, "192.168.10.21"),
                                                     StationSet(2, "192.168.10.22")}))
        << (lineEnd[0] == '\r' ? "CR LF" : "LF");
  }
}

// The rule of the init file and of the connect alike.
TEST(InitFile, AddressesAreExactlyFourNumbersFrom0To255) {
  const struct {
    const char *text;
    int valid;
  } cases[] = {{"0.0.0.0", 1},          {"10.0.0.255", 1},   {"127.001.0.1", 1},
               {"255.255.255.255", 0},  {"1.2.3.4trailing", 0}, {"+1.2.3.4", 0},
               {"127.0.0.1.5", 0},      {" 1.2.3.4", 0},     {"1.2.3.4 ", 0},
               {"1.2.3", 0},            {"1.2.3.-1", 0},     {"1..2.3", 0},
               {"a.b.c.d", 0},          {"1.2.3.0255", 0},   {"1.2.3.99999999999", 0},
               {"", 0},                 {"256.1.1.1", 0},    {"0x7f.0.0.1", 0}};
  for (const auto &c : cases) EXPECT_EQ(CheckIpAddress(c.text), c.valid) << c.text;
}

}  // namespace
