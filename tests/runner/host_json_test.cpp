// devado-host's answers to scripts, read with a real JSON parser: --once and its exit
// status against stations that work, refuse or are refused tags, the causes of failures
// in the middle of a run, and the CSV file of the samples.
#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "sim/station.h"
#include "tests/runner/program_run.h"
#include "tests/support/loopback.h"
#include "tests/support/work_directory.h"

namespace {

using nlohmann::json;
using testing_support::ExitStatus;
using testing_support::ProgramRun;
using testing_support::TestAddress;
using testing_support::WorkDirectory;

const std::string kHost = std::filesystem::absolute(DEVADO_HOST_PATH).string();
constexpr int kGenerousMs = 30000;

// Every line of the output as JSON; a line that is no JSON object fails the test.
std::vector<json> Parsed(const ProgramRun &run) {
  std::vector<json> events;
  for (const std::string &line : run.lines) {
    json event = json::parse(line, nullptr, false);
    EXPECT_FALSE(event.is_discarded()) << "not JSON: " << line;
    EXPECT_TRUE(event.is_object()) << line;
    if (event.contains("time")) {
      EXPECT_TRUE(testing_support::IsIsoTime(event["time"].get<std::string>())) << line;
    }
    if (!event.is_discarded()) events.push_back(event);
  }
  return events;
}

std::vector<json> OfKind(const std::vector<json> &events, const std::string &kind) {
  std::vector<json> found;
  for (const json &event : events) {
    if (event.value("event", "") == kind) found.push_back(event);
  }
  return found;
}

std::unique_ptr<sim::Station> StartStation(int n, sim::FaultMode fault = sim::FaultMode::kNone,
                                           int faultCount = 3) {
  sim::Options options;
  options.address = TestAddress(n);
  options.samplePeriodMs = 250;
  options.fault = fault;
  options.faultCount = faultCount;
  auto station = std::make_unique<sim::Station>(options);
  EXPECT_TRUE(station->Start()) << options.address;
  return station;
}

struct OnceCase {
  const char *name;
  int listening;                    // stations 1..listening answer; the last configured one may not
  int configured;                   // stations 1..configured are in the init file
  sim::FaultMode lastFault;         // of the last listening station
  const char *tags;                 // null: the default tags (2 channels and the air flow)
  int status;                       // the exit status
  std::vector<std::string> states;  // per configured station
};

const OnceCase kOnceCases[] = {
    {"EveryStationWorks", 2, 2, sim::FaultMode::kNone, nullptr, 0, {"ok", "ok"}},
    {"AStationRefuses",
     1,
     2,
     sim::FaultMode::kNone,
     nullptr,
     3,
     {"ok", "not connected: refused the connection"}},
    {"AStationNeverAnswers",
     2,
     2,
     sim::FaultMode::kLate,
     nullptr,
     3,
     {"ok", "not connected: did not answer within 500 ms"}},
    {"ATagIsRefused",
     1,
     1,
     sim::FaultMode::kNone,
     "001F0000 float\n001F0001 float\n001AIR_FLOW uint16\n009F0000 float\n",
     3,
     {"ok"}},
};

class Once : public testing::TestWithParam<OnceCase> {};

TEST_P(Once, TellsAScriptWhetherTheInstallationWorks) {
  const OnceCase &c = GetParam();
  std::vector<std::unique_ptr<sim::Station>> stations;
  for (int n = 1; n <= c.listening; ++n) {
    stations.push_back(StartStation(n, n == c.listening ? c.lastFault : sim::FaultMode::kNone));
  }
  WorkDirectory directory;
  std::vector<std::string> init = {"UPDATE RATE = 1"};
  for (int n = 1; n <= c.configured; ++n)
    init.push_back("00" + std::to_string(n) + " = " + TestAddress(n));
  directory.WriteInitFile(1, init);
  std::string arguments = "--once --json --csv samples.csv --channels 2";
  if (c.tags != nullptr) {
    directory.Write("tags.txt", c.tags);
    arguments += " --tags tags.txt";
  }

  ProgramRun run = testing_support::RunProgram(kHost, arguments);

  EXPECT_EQ(ExitStatus(run.status), c.status) << run.errors;
  std::vector<json> events = Parsed(run);
  std::vector<json> lines = OfKind(events, "station");
  ASSERT_EQ(lines.size(), c.states.size()) << run.errors;
  int working = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const json &line = lines[i];
    EXPECT_EQ(line["station"], static_cast<int>(i) + 1);
    EXPECT_EQ(line["state"], c.states[i]);
    EXPECT_EQ(line["ok"], c.states[i] == "ok");
    if (c.states[i] != "ok") continue;
    ++working;
    EXPECT_GE(line["samples"].get<int>(), 1);
    ASSERT_EQ(line["values"].size(), 2u);
    for (const json &value : line["values"]) EXPECT_TRUE(value.is_number()) << line;
    EXPECT_EQ(line["airFlow"], "ok");
  }
  for (const json &connect : OfKind(events, "connect")) {
    std::string state = c.states.at(connect["station"].get<int>() - 1);
    EXPECT_EQ(connect["connected"], state == "ok") << connect;
    if (state != "ok") {
      EXPECT_EQ("not connected: " + connect.value("cause", ""), state) << connect;
    }
  }
  // The CSV: its header, and a row per sample of each working station (its lines end as
  // text files do on the platform).
  std::istringstream csv(testing_support::ReadFile("samples.csv"));
  auto next = [&csv](std::string *line) {
    if (!std::getline(csv, *line)) return false;
    if (!line->empty() && line->back() == '\r') line->pop_back();
    return true;
  };
  std::string header;
  next(&header);
  EXPECT_EQ(header, "time,station,address,sample,air_flow,ch0,ch1");
  std::map<int, int> rows;
  for (std::string row; next(&row);) {
    std::vector<std::string> cells;
    std::istringstream split(row);
    for (std::string cell; std::getline(split, cell, ',');) cells.push_back(cell);
    ASSERT_EQ(cells.size(), 7u) << row;
    EXPECT_TRUE(testing_support::IsIsoTime(cells[0])) << row;
    EXPECT_EQ(cells[4], "ok") << row;
    for (int channel : {5, 6}) {
      EXPECT_NO_THROW(std::stod(cells[static_cast<std::size_t>(channel)])) << row;
    }
    ++rows[std::stoi(cells[1])];
  }
  EXPECT_EQ(static_cast<int>(rows.size()), working);
}

INSTANTIATE_TEST_SUITE_P(HostJson, Once, testing::ValuesIn(kOnceCases),
                         [](const testing::TestParamInfo<OnceCase> &info) {
                           return std::string(info.param.name);
                         });

// A station that closes its connection and one that falls silent in the middle of a run:
// each failure comes with its cause, and the run's exit status says the installation did
// not stay well.
TEST(HostJson, FailuresInTheMiddleOfARunCarryTheirCause) {
  auto closing = StartStation(1, sim::FaultMode::kCloseAfter, 4);
  auto falling = StartStation(2);
  auto healthy = StartStation(3);
  WorkDirectory directory;
  directory.WriteInitFile(1, {"UPDATE RATE = 1", "001 = " + TestAddress(1),
                              "002 = " + TestAddress(2), "003 = " + TestAddress(3)});
  auto running = std::async(std::launch::async, [] {
    return testing_support::RunProgram(kHost, "--json --duration 12 --channels 1");
  });
  ASSERT_TRUE(sim::WaitUntil([&] { return falling->SamplesSent() >= 2; }, kGenerousMs));
  falling->SetFault(sim::FaultMode::kSilent);
  ProgramRun run = running.get();

  EXPECT_EQ(ExitStatus(run.status), 3) << run.errors;
  std::map<int, std::string> causes;
  for (const json &link : OfKind(Parsed(run), "link")) {
    if (link["status"] == "failed") causes[link["station"].get<int>()] = link.value("cause", "");
  }
  EXPECT_EQ(causes[1], "closed the connection");
  EXPECT_EQ(causes[2].rfind("went silent for ", 0), 0u) << causes[2];
  EXPECT_EQ(causes[2].substr(causes[2].size() - 2), " s") << causes[2];
  EXPECT_EQ(causes.count(3), 0u) << "the healthy station never failed";
}

}  // namespace
