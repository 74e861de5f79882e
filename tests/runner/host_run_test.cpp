// devado-host as a user runs it: a program started in a folder that holds the init
// file, against simulated stations on loopback addresses, read through its JSON lines.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "sim/station.h"
#include "tests/runner/program_run.h"
#include "tests/support/loopback.h"
#include "tests/support/work_directory.h"

namespace {

using testing_support::TestAddress;
using testing_support::WorkDirectory;

// Made absolute while the current directory is still the build's (under Wine this also
// gives the path its drive letter).
const std::string kHost = std::filesystem::absolute(DEVADO_HOST_PATH).string();

using HostRun = testing_support::ProgramRun;

HostRun RunHost(const std::string &arguments) {
  EXPECT_EQ(kHost.find(' '), std::string::npos) << "a path with blanks: " << kHost;
  return testing_support::RunProgram(kHost, arguments);
}

// The value of a member of a one-line JSON object: a string without its quotes, or the
// text of a number, true or false; empty when absent.
std::string Member(const std::string &line, const std::string &name) {
  std::size_t at = line.find("\"" + name + "\":");
  if (at == std::string::npos) return "";
  at += name.size() + 3;
  if (line[at] == '"') return line.substr(at + 1, line.find('"', at + 1) - at - 1);
  return line.substr(at, line.find_first_of(",}", at) - at);
}

std::vector<std::string> Events(const HostRun &run, const std::string &event) {
  std::vector<std::string> lines;
  for (const std::string &line : run.lines) {
    if (Member(line, "event") == event) lines.push_back(line);
  }
  return lines;
}

std::unique_ptr<sim::Station> StartStation(const std::string &address) {
  sim::Options options;
  options.address = address;
  options.samplePeriodMs = 250;
  auto station = std::make_unique<sim::Station>(options);
  EXPECT_TRUE(station->Start()) << address;
  return station;
}

TEST(HostRun, ShowsTheGateWritesOfEachStationAndEndsTheDriver) {
  auto first = StartStation(TestAddress(0));
  auto second = StartStation(TestAddress(1));
  WorkDirectory directory;
  // Station 3 is configured but nothing listens there.
  directory.WriteInitFile(1, {"UPDATE RATE = 1", "001 = " + TestAddress(0),
                              "002 = " + TestAddress(1), "003 = " + TestAddress(2)});
  directory.Write("tags.txt",
                  "001F0000 float\n001F0001 float\n001F0002 float\n001AIR_FLOW uint16\n"
                  "002F0000 float\n002AIR_FLOW int16\n"
                  "001F0003 uint16\n009F0000 float\n");

  HostRun run = RunHost("--tags tags.txt --json --duration 4");

  // The run works, but station 3 never connected and two tags were refused.
  ASSERT_EQ(testing_support::ExitStatus(run.status), 3) << run.errors;
  std::map<std::string, std::string> connected;
  for (const std::string &line : Events(run, "connect")) {
    connected[Member(line, "station")] = Member(line, "connected");
  }
  EXPECT_EQ(connected,
            (std::map<std::string, std::string>{{"1", "true"}, {"2", "true"}, {"3", "false"}}));
  std::map<std::string, std::string> refusals;
  for (const std::string &line : Events(run, "tag")) {
    if (Member(line, "accepted") == "false")
      refusals[Member(line, "address")] = Member(line, "reason");
  }
  ASSERT_EQ(refusals.size(), 2u);
  EXPECT_NE(refusals["001F0003"].find("Type must be 'float'"), std::string::npos);
  EXPECT_NE(refusals["009F0000"].find("Station 9 not defined in Init file"), std::string::npos);

  std::map<std::string, int> writes;
  // ISO 8601 with date, milliseconds and zone offset.
  for (const std::string &line : Events(run, "gate")) {
    EXPECT_TRUE(testing_support::IsIsoTime(Member(line, "time"))) << line;
    ++writes[Member(line, "address")];
    if (Member(line, "address").find("AIR_FLOW") != std::string::npos) {
      EXPECT_EQ(Member(line, "value"), "1.000000") << line;
    }
  }
  for (const char *address :
       {"001F0000", "001F0001", "001F0002", "001AIR_FLOW", "002F0000", "002AIR_FLOW"}) {
    EXPECT_GT(writes[address], 0) << address;
  }
  EXPECT_EQ(writes.size(), 6u);

  // The summary counts every gate write it showed. Every whole sample writes the air-flow
  // gate once; the station may send one before all its tags are defined, which writes only
  // the gates defined so far.
  std::vector<std::string> summary = Events(run, "summary");
  ASSERT_EQ(summary.size(), 1u);
  EXPECT_EQ(Member(summary[0], "endResult"), "0");
  int stationOneWrites = 0;
  for (const auto &gate : writes)
    stationOneWrites += gate.first.rfind("001", 0) == 0 ? gate.second : 0;
  std::string prefix = "{\"station\":1,\"address\":\"" + TestAddress(0) + "\",\"samples\":";
  std::size_t at = summary[0].find(prefix);
  ASSERT_NE(at, std::string::npos) << summary[0];
  int samples = std::atoi(summary[0].c_str() + at + prefix.size());
  EXPECT_GE(samples, writes["001AIR_FLOW"]) << summary[0];
  EXPECT_LE(samples, writes["001AIR_FLOW"] + 1) << summary[0];
  EXPECT_NE(summary[0].find(prefix + std::to_string(samples) + ",\"writes\":" +
                            std::to_string(stationOneWrites) + ",\"failures\":0,\"recoveries\":0}"),
            std::string::npos)
      << summary[0];
  EXPECT_NE(summary[0].find("{\"station\":3,\"address\":\"" + TestAddress(2) +
                            "\",\"samples\":0,\"writes\":0"),
            std::string::npos)
      << summary[0];
}

// The offline check reads the init file and the tags by the driver's own rules, loads no
// driver, and says per line what the driver will make of it.
TEST(HostRun, CheckSaysWhatTheDriverWillMakeOfEachLineAndTag) {
  WorkDirectory directory;
  directory.WriteInitFile(
      1, {"UPDATE RATE = 0", "001 = 127.0.0.87", "004 : 127.0.0.87", "002 = 127.0.0.87", "hall B",
          "003 = 10.0.0.1junk", "300 = 10.0.0.3", "005 = 127.0.0.90", "005 = 127.0.0.91"});
  directory.Write("tags.txt", "001F0000 float\n001F0001 uint16\n009F0000 float\n002F0000 float\n");
  HostRun run = RunHost("--check --tags tags.txt --driver no-such-driver.lib");

  EXPECT_EQ(testing_support::ExitStatus(run.status), 3) << run.errors;
  const struct {
    const char *severity, *where, *text;
  } expected[] = {
      {"problem", "DEVADO01.int:1", "'UPDATE RATE = 0': rejected: invalid update rate"},
      {"ok", "DEVADO01.int:2", "'001 = 127.0.0.87': station 001 at 127.0.0.87"},
      {"problem", "DEVADO01.int:3", "'004 : 127.0.0.87': passed over: not a setting, though"},
      {"note", "DEVADO01.int:5", "'hall B': passed over (not a setting)"},
      {"problem", "DEVADO01.int:6", "'003 = 10.0.0.1junk': rejected: invalid IP address"},
      {"problem", "DEVADO01.int:7", "'300 = 10.0.0.3': rejected: invalid station number"},
      {"note", "DEVADO01.int:8", "'005 = 127.0.0.90': station 005 at 127.0.0.90, replaced by"},
      {"ok", "DEVADO01.int", "update rate in force: 10 s (the default"},
      {"problem", "DEVADO01.int", "stations 001, 002 share the address 127.0.0.87"},
      {"problem", "tags.txt:2", "'001F0001 unsigned16': will be refused: Type must be 'float'"},
      {"problem", "tags.txt:3", "'009F0000 float': will be refused: station not defined"},
      {"ok", "tags.txt", "2 of 4 tags will be accepted"},
      {"problem", "tags.txt", "station 005 has no channel tag: it is never asked to sample"},
  };
  for (const auto &e : expected) {
    std::string start = std::string(e.severity) + std::string(9 - std::strlen(e.severity), ' ') +
                        e.where + "  " + e.text;
    bool found = false;
    for (const std::string &line : run.lines) found = found || line.rfind(start, 0) == 0;
    EXPECT_TRUE(found) << start;
  }
  ASSERT_FALSE(run.lines.empty());
  EXPECT_EQ(run.lines.back(), "check: 8 problems");  // the seven above, and station 005

  directory.WriteInitFile(1, {"UPDATE RATE = 5", "001 = 127.0.0.87"});
  HostRun clean = RunHost("--check --channels 2");
  EXPECT_EQ(testing_support::ExitStatus(clean.status), 0) << clean.errors;
  ASSERT_FALSE(clean.lines.empty());
  EXPECT_EQ(clean.lines.back(), "check: nothing wrong found");
}

TEST(HostRun, RefusesToRunWithoutWhatItNeedsAndSaysWhy) {
  const struct {
    bool initFile;
    const char *tags;  // null: no tag list
    const char *arguments;
    const char *error;  // a part of the one-line reason
  } cases[] = {
      {true, nullptr, "--driver no-such-driver.lib",
       "cannot load the driver library 'no-such-driver.lib'"},
      {false, nullptr, "", "cannot read the init file DEVADO01.int"},
      {false, nullptr, "--instance 7", "cannot read the init file DEVADO07.int"},
      {true, "001F0000 float\n001F0001 double\n", "--tags tags.txt",
       "tags.txt:2: unknown type 'double'"},
      {true, "009F0000 float\n", "--tags tags.txt", "the driver accepted none of the 1 tags"},
      {true, nullptr, "--duration soon", "bad value 'soon' for --duration"},
      {true, nullptr, "--mqtt 127.0.0.1:0", "bad value '127.0.0.1:0' for --mqtt"},
      {true, nullptr, "--mqtt 127.0.0.1 --mqtt-user gw --mqtt-password-file missing.txt",
       DEVADO_BUILD_HAS_MQTT ? "cannot read the MQTT password file missing.txt"
                             : "this build of devado-host has no MQTT support"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.arguments);
    WorkDirectory directory;
    if (c.initFile) directory.WriteInitFile(1, {"001 = " + TestAddress(0)});
    if (c.tags != nullptr) directory.Write("tags.txt", c.tags);
    HostRun run = RunHost(std::string("--json ") + c.arguments);
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.errors.find(c.error), std::string::npos) << run.errors;
  }
}

}  // namespace
