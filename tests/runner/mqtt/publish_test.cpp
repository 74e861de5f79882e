// devado-host --mqtt against a real broker of the test's own, with simulated stations: what
// a plant-wide subscriber receives, read with a real JSON parser; what is retained; what a
// runner that dies leaves behind; a broker that goes away for 10 s; credentials; a queue
// that overflows while no broker is there.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sqlite3.h>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "runner/mqtt/publish_outcome.h"
#include "sim/station.h"
#include "tests/runner/mqtt/processes.h"
#include "tests/runner/mqtt/subscriber.h"
#include "tests/runner/program_run.h"
#include "tests/support/loopback.h"
#include "tests/support/work_directory.h"

namespace {

using nlohmann::json;
using testing_support::Broker;
using testing_support::ChildProcess;
using testing_support::ExitStatus;
using testing_support::LoopbackAddressFor;
using testing_support::Received;
using testing_support::Subscriber;
using testing_support::TestAddress;
using testing_support::WaitUntil;
using testing_support::WorkDirectory;

const std::string kHost = std::filesystem::absolute(DEVADO_HOST_PATH).string();
constexpr auto kGenerous = std::chrono::seconds(30);
const std::string kPrefix = "plant/hall-2";

std::string Topic(const std::string &rest) {
  return kPrefix + "/1/" + rest;
}
std::string StationTopic(int station, const std::string &kind) {
  char number[8];
  std::snprintf(number, sizeof number, "%03d", station);
  return Topic("station/" + std::string(number) + "/" + kind);
}

std::string BrokerAddress() {
  return TestAddress(50);
}

// A run's JSON lines, each parsed.
std::vector<json> Parsed(const std::vector<std::string> &texts) {
  std::vector<json> lines;
  for (const std::string &line : texts) {
    json parsed = json::parse(line, nullptr, false);
    EXPECT_FALSE(parsed.is_discarded()) << "not JSON: " << line;
    if (!parsed.is_discarded()) lines.push_back(parsed);
  }
  return lines;
}

std::vector<json> JsonLines(const std::string &file) {
  std::vector<std::string> texts;
  std::istringstream text(testing_support::ReadFile(file));
  for (std::string line; std::getline(text, line);) texts.push_back(line);
  return Parsed(texts);
}

json EventOf(const std::vector<json> &lines, const std::string &kind) {
  for (const json &line : lines) {
    if (line.value("event", "") == kind) return line;
  }
  return json();
}

// The texts of the runner's MQTT lines (--json), in the order they came.
std::vector<std::string> MqttTexts(const std::vector<json> &lines) {
  std::vector<std::string> texts;
  for (const json &line : lines) {
    if (line.value("event", "") == "mqtt") texts.push_back(line.value("text", ""));
  }
  return texts;
}

bool AnyStartsWith(const std::vector<std::string> &texts, const std::string &start) {
  for (const std::string &text : texts) {
    if (text.rfind(start, 0) == 0) return true;
  }
  return false;
}

// The samples a subscriber received for a station, in the order they came; every payload
// must be JSON with the documented members.
std::vector<json> SamplesOf(const Subscriber &subscriber, int station) {
  std::vector<json> samples;
  for (const Received &m : subscriber.On(StationTopic(station, "sample"))) {
    json sample = json::parse(m.payload, nullptr, false);
    EXPECT_TRUE(sample.is_object()) << m.payload;
    if (!sample.is_object()) continue;
    EXPECT_FALSE(m.retained) << m.payload;
    EXPECT_TRUE(testing_support::IsIsoTime(sample.value("time", ""))) << m.payload;
    EXPECT_EQ(sample.value("station", 0), station) << m.payload;
    EXPECT_EQ(sample.value("address", ""), TestAddress(station)) << m.payload;
    samples.push_back(sample);
  }
  return samples;
}

// The sequence numbers are 1, 2, 3, ... in the order the samples arrived: none lost, none
// twice, none out of order.
void ExpectEveryOneOnceInOrder(const std::vector<json> &samples, int station) {
  for (std::size_t i = 0; i < samples.size(); ++i) {
    ASSERT_EQ(samples[i].value("sequence", 0L), static_cast<long>(i) + 1)
        << "station " << station << ", message " << i << ": " << samples[i].dump();
  }
}

int CountSamples(const Subscriber &subscriber) {
  int count = 0;
  for (const Received &m : subscriber.Messages()) {
    count += m.topic.size() > 7 && m.topic.compare(m.topic.size() - 7, 7, "/sample") == 0;
  }
  return count;
}

class MqttPublishing : public testing::Test {
 protected:
  void StartStations(int listening, int configured, int periodMs = 250) {
    for (int n = 1; n <= listening; ++n) {
      sim::Options options;
      options.address = TestAddress(n);
      options.samplePeriodMs = periodMs;
      stations_.push_back(std::make_unique<sim::Station>(options));
      ASSERT_TRUE(stations_.back()->Start()) << options.address;
    }
    std::vector<std::string> init = {"UPDATE RATE = 1"};
    for (int n = 1; n <= configured; ++n)
      init.push_back("00" + std::to_string(n) + " = " + TestAddress(n));
    directory_.WriteInitFile(1, init);
  }

  std::vector<std::string> Arguments(const Broker &broker, std::vector<std::string> more) const {
    std::vector<std::string> arguments = {"--channels",    "2",    "--mqtt", broker.HostPort(),
                                          "--mqtt-prefix", kPrefix};
    arguments.insert(arguments.end(), more.begin(), more.end());
    return arguments;
  }

  static std::string Joined(const std::vector<std::string> &arguments) {
    std::string text;
    for (const std::string &a : arguments) text += (text.empty() ? "" : " ") + a;
    return text;
  }

  WorkDirectory directory_;
  std::vector<std::unique_ptr<sim::Station>> stations_;
};

TEST_F(MqttPublishing, EverySampleArrivesOnceInOrderWithTheValuesTheGatesReceived) {
  Broker broker(BrokerAddress(), {});
  ASSERT_TRUE(broker.Start()) << broker.Log();
  Subscriber subscriber("historian");
  ASSERT_TRUE(subscriber.Subscribe(broker.Address(), broker.Port(), Topic("#")));
  StartStations(2, 2);

  auto run =
      testing_support::RunProgram(kHost, Joined(Arguments(broker, {"--samples", "6", "--json"})));

  ASSERT_EQ(ExitStatus(run.status), 0) << run.errors;
  std::vector<json> lines;
  for (const std::string &line : run.lines) lines.push_back(json::parse(line, nullptr, false));
  json summary = EventOf(lines, "mqttSummary");
  ASSERT_TRUE(summary.is_object()) << run.errors;
  EXPECT_EQ(summary["dropped"], 0);
  EXPECT_EQ(summary["unsent"], 0);
  long published = summary["published"];
  ASSERT_TRUE(WaitUntil([&] { return CountSamples(subscriber) >= published; }, kGenerous));
  long received = 0;
  for (int station = 1; station <= 2; ++station) {
    // The gate writes of each sample: channel 0, channel 1, then the air flow.
    std::vector<std::vector<double>> written;
    std::string base = "00" + std::to_string(station);
    for (const json &line : lines) {
      if (line.value("event", "") != "gate") continue;
      std::string address = line["address"];
      if (address == base + "F0000") written.push_back({});
      if (address.rfind(base, 0) == 0 && !written.empty()) written.back().push_back(line["value"]);
    }
    std::vector<json> samples = SamplesOf(subscriber, station);
    ExpectEveryOneOnceInOrder(samples, station);
    ASSERT_EQ(samples.size(), written.size()) << "station " << station;
    ASSERT_GE(samples.size(), 6u);
    for (std::size_t i = 0; i < samples.size(); ++i) {
      ASSERT_EQ(written[i].size(), 3u);
      EXPECT_EQ(samples[i]["values"], json({written[i][0], written[i][1]})) << samples[i].dump();
      EXPECT_EQ(samples[i]["airFlow"], written[i][2] != 0 ? "ok" : "fail");
      EXPECT_EQ(samples[i]["laserFault"], false);
    }
    received += static_cast<long>(samples.size());
  }
  EXPECT_EQ(received, published);
}

TEST_F(MqttPublishing, ALateSubscriberSeesTheCurrentStateAndAKilledRunnerIsSeenGone) {
  Broker broker(BrokerAddress(), {});
  ASSERT_TRUE(broker.Start()) << broker.Log();
  Subscriber watcher("watcher");
  ASSERT_TRUE(watcher.Subscribe(broker.Address(), broker.Port(), Topic("#")));
  StartStations(1, 2);  // station 2 refuses
  ChildProcess runner;
  ASSERT_TRUE(runner.Start(kHost, Arguments(broker, {"--plain"}), "out.txt", "err.txt"));
  ASSERT_TRUE(WaitUntil([&] { return !watcher.On(StationTopic(1, "sample")).empty(); }, kGenerous))
      << testing_support::ReadFile("out.txt") << testing_support::ReadFile("err.txt");

  Subscriber late("late-dashboard");
  ASSERT_TRUE(late.Subscribe(broker.Address(), broker.Port(), Topic("#")));
  // The broker hands the retained messages over at once, in an order of its own.
  ASSERT_TRUE(WaitUntil(
      [&] {
        return !late.On(StationTopic(1, "link")).empty() &&
               !late.On(StationTopic(2, "link")).empty() && !late.On(Topic("status")).empty();
      },
      kGenerous));
  struct Expected {
    std::string topic;
    std::string state;
    std::string cause;  // empty: no cause member
  };
  for (const Expected &e :
       {Expected{StationTopic(1, "link"), "connected", ""},
        Expected{StationTopic(2, "link"), "not_connected", "refused the connection"}}) {
    std::vector<Received> got = late.On(e.topic);
    ASSERT_EQ(got.size(), 1u) << e.topic;
    EXPECT_TRUE(got[0].retained) << e.topic;
    json link = json::parse(got[0].payload, nullptr, false);
    ASSERT_TRUE(link.is_object()) << got[0].payload;
    EXPECT_EQ(link["state"], e.state);
    EXPECT_TRUE(testing_support::IsIsoTime(link.value("since", ""))) << got[0].payload;
    EXPECT_EQ(link.contains("cause"), !e.cause.empty()) << got[0].payload;
    if (!e.cause.empty()) {
      EXPECT_EQ(link["cause"], e.cause);
    }
  }
  ASSERT_EQ(late.On(Topic("status")).size(), 1u);
  EXPECT_TRUE(late.On(Topic("status"))[0].retained);
  EXPECT_EQ(late.Latest(Topic("status")), "online");
  for (const Received &m : late.On(StationTopic(1, "sample"))) {
    EXPECT_FALSE(m.retained) << "samples are not retained: " << m.payload;
  }

  runner.Signal(SIGKILL);
  EXPECT_TRUE(WaitUntil([&] { return watcher.Latest(Topic("status")) == "offline"; }, kGenerous));
  Subscriber afterwards("later-still");
  ASSERT_TRUE(afterwards.Subscribe(broker.Address(), broker.Port(), Topic("status")));
  EXPECT_TRUE(
      WaitUntil([&] { return afterwards.Latest(Topic("status")) == "offline"; }, kGenerous));
}

TEST_F(MqttPublishing, ABrokerAwayFor10SecondsLosesNoSample) {
  Broker::Settings keeping;
  keeping.keepsMessages = true;
  Broker broker(BrokerAddress(), keeping);
  ASSERT_TRUE(broker.Start()) << broker.Log();
  Subscriber historian("historian", true);
  ASSERT_TRUE(historian.Subscribe(broker.Address(), broker.Port(), Topic("#")));
  StartStations(2, 2);
  ChildProcess runner;
  ASSERT_TRUE(runner.Start(kHost, Arguments(broker, {"--json"}), "out.txt", "err.txt"));
  ASSERT_TRUE(WaitUntil([&] { return CountSamples(historian) >= 8; }, kGenerous))
      << testing_support::ReadFile("err.txt");

  broker.Stop();
  int beforeStop = CountSamples(historian);
  std::map<int, long> receivedBeforeStop;  // by station: the highest sequence number
  for (int station = 1; station <= 2; ++station) {
    for (const json &sample : SamplesOf(historian, station)) {
      receivedBeforeStop[station] =
          std::max(receivedBeforeStop[station], sample.value("sequence", 0L));
    }
  }
  std::this_thread::sleep_for(std::chrono::seconds(10));  // the broker's absence itself
  ASSERT_TRUE(broker.Start()) << broker.Log();
  ASSERT_TRUE(WaitUntil([&] { return CountSamples(historian) >= beforeStop + 8 * 10; }, kGenerous))
      << "samples kept while the broker was away did not arrive: " << CountSamples(historian);
  runner.Signal(SIGTERM);
  ASSERT_EQ(runner.Wait(kGenerous), 0) << testing_support::ReadFile("err.txt");
  EXPECT_TRUE(WaitUntil([&] { return historian.Latest(Topic("status")) == "offline"; }, kGenerous))
      << "a runner that ends says offline";

  std::vector<json> lines = JsonLines("out.txt");
  json summary = EventOf(lines, "mqttSummary");
  ASSERT_TRUE(summary.is_object());
  EXPECT_EQ(summary["dropped"], 0);
  EXPECT_EQ(summary["unsent"], 0);
  EXPECT_EQ(summary["connections"], 2);
  long published = summary["published"];
  ASSERT_TRUE(WaitUntil([&] { return CountSamples(historian) >= published; }, kGenerous));
  // A restarted broker delivers again what it had saved for the historian's session and
  // not yet seen acknowledged (QoS 1 is at least once); the runner sends nothing twice.
  long received = 0, again = 0;
  for (int station = 1; station <= 2; ++station) {
    std::vector<json> firstTime;
    for (const json &sample : SamplesOf(historian, station)) {
      long sequence = sample.value("sequence", 0L);
      if (sequence <= static_cast<long>(firstTime.size())) {
        EXPECT_LE(sequence, receivedBeforeStop[station]) << "sent twice: " << sample.dump();
        ++again;
        continue;
      }
      firstTime.push_back(sample);
    }
    ExpectEveryOneOnceInOrder(firstTime, station);
    received += static_cast<long>(firstTime.size());
  }
  EXPECT_EQ(received, published);
  std::printf(
      "broker away for 10 s: %ld samples published, %ld received (%d before the stop, "
      "%ld kept by the runner and sent after it), none lost, none dropped; the restarted "
      "broker delivered %ld received before the stop again\n",
      published, received, beforeStop, received - beforeStop, again);
}

struct CredentialCase {
  const char *name;
  const char *password;  // what the runner's password file holds
  int status;
};

class MqttCredentials : public MqttPublishing,
                        public testing::WithParamInterface<CredentialCase> {};

TEST_P(MqttCredentials, ARefusedLogInEndsTheRunAndNamesTheBroker) {
  const CredentialCase &c = GetParam();
  directory_.Write("users.txt", "");
  ASSERT_EQ(std::system(
                (std::string(MOSQUITTO_PASSWD_PATH) + " -b users.txt gateway s3cret-word").c_str()),
            0);
  Broker::Settings users;
  users.passwordFile = std::filesystem::absolute("users.txt").string();
  Broker broker(BrokerAddress(), users);
  ASSERT_TRUE(broker.Start()) << broker.Log();
  StartStations(1, 1);
  directory_.Write("password.txt", std::string(c.password) + "\n");

  auto run = testing_support::RunProgram(
      kHost, Joined(Arguments(broker, {"--once", "--json", "--mqtt-user", "gateway",
                                       "--mqtt-password-file", "password.txt"})));

  std::string everything = run.errors;
  for (const std::string &line : run.lines) everything += line + "\n";
  EXPECT_EQ(ExitStatus(run.status), c.status) << everything;
  EXPECT_EQ(everything.find(c.password), std::string::npos) << "the password was shown";
  if (c.status == 0) {
    EXPECT_NE(everything.find("\"published\":"), std::string::npos) << everything;
    return;
  }
  EXPECT_NE(run.errors.find("the MQTT broker " + broker.HostPort() + " refused the connection"),
            std::string::npos)
      << run.errors;
  EXPECT_NE(run.errors.find("not authori"), std::string::npos) << run.errors;
}

INSTANTIATE_TEST_SUITE_P(, MqttCredentials,
                         testing::Values(CredentialCase{"RightPassword", "s3cret-word", 0},
                                         CredentialCase{"WrongPassword", "guessed-word", 1}),
                         [](const testing::TestParamInfo<CredentialCase> &info) {
                           return info.param.name;
                         });

TEST_F(MqttPublishing, ALaserFaultIsInTheSampleWithOrWithoutAnAirFlowTag) {
  Broker broker(BrokerAddress(), {});
  ASSERT_TRUE(broker.Start()) << broker.Log();
  Subscriber subscriber("dashboard");
  ASSERT_TRUE(subscriber.Subscribe(broker.Address(), broker.Port(), Topic("#")));
  for (int n = 1; n <= 2; ++n) {
    sim::Options options;
    options.address = TestAddress(n);
    options.samplePeriodMs = 250;
    options.statusFlags = 0x0E;  // the laser reported and failed, the air flow fine
    stations_.push_back(std::make_unique<sim::Station>(options));
    ASSERT_TRUE(stations_.back()->Start());
  }
  directory_.WriteInitFile(
      1, {"UPDATE RATE = 1", "001 = " + TestAddress(1), "002 = " + TestAddress(2)});
  // Station 1 has an air-flow tag, station 2 has none: its last gate is a channel.
  directory_.Write("tags.txt",
                   "001F0000 float\n001AIR_FLOW uint16\n002F0000 float\n002F0001 float\n");

  auto run = testing_support::RunProgram(
      kHost, Joined(Arguments(broker, {"--samples", "3", "--json", "--tags", "tags.txt"})));

  ASSERT_EQ(ExitStatus(run.status), 0) << run.errors;
  for (int station = 1; station <= 2; ++station) {
    ASSERT_TRUE(WaitUntil([&] { return SamplesOf(subscriber, station).size() >= 3; }, kGenerous));
    for (const json &sample : SamplesOf(subscriber, station))
      EXPECT_EQ(sample["laserFault"], true) << "station " << station << ": " << sample.dump();
  }
}

// Starts the runner with its standard output into a pipe that holds one page and that the
// test does not read, as a journal that stalled; returns the pipe's read end.
pid_t StartIntoUnreadPipe(const std::vector<std::string> &arguments, int *readEnd) {
  std::vector<std::string> words = {kHost};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char *> argv;
  for (std::string &word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  int ends[2];
  if (pipe(ends) != 0) return -1;
  fcntl(ends[1], F_SETPIPE_SZ, 4096);
  pid_t pid = fork();
  if (pid == 0) {  // only calls that are safe between fork and exec
    dup2(ends[1], 1);
    close(ends[0]);
    close(ends[1]);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(ends[1]);
  *readEnd = ends[0];
  return pid;
}

TEST_F(MqttPublishing, AnOutputThatNobodyReadsDoesNotStopTheSamples) {
  Broker broker(BrokerAddress(), {});
  ASSERT_TRUE(broker.Start()) << broker.Log();
  Subscriber subscriber("historian");
  ASSERT_TRUE(subscriber.Subscribe(broker.Address(), broker.Port(), Topic("#")));
  StartStations(2, 2);
  int output = -1;
  pid_t runner = StartIntoUnreadPipe(Arguments(broker, {"--plain"}), &output);
  ASSERT_GT(runner, 0);

  // A line per gate write fills the page within seconds; the samples must go on.
  auto pending = [output] {
    int bytes = 0;
    ioctl(output, FIONREAD, &bytes);
    return bytes;
  };
  EXPECT_TRUE(WaitUntil([&] { return pending() >= 3500; }, kGenerous)) << pending();
  int before = CountSamples(subscriber);
  EXPECT_TRUE(WaitUntil([&] { return CountSamples(subscriber) >= before + 40; }, kGenerous))
      << "the samples stopped with the output: " << CountSamples(subscriber) - before;

  kill(runner, SIGTERM);
  std::string written;
  char chunk[4096];
  for (ssize_t got; (got = read(output, chunk, sizeof chunk)) > 0;) written.append(chunk, got);
  close(output);
  int status = 0;
  waitpid(runner, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_NE(written.find("MQTT: "), std::string::npos) << "the summary comes once it is read";
}

// How often the runner's output holds `text`.
int Occurrences(const std::string &file, const std::string &text) {
  std::string all = testing_support::ReadFile(file);
  int count = 0;
  for (std::size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + 1))
    ++count;
  return count;
}

TEST_F(MqttPublishing, SamplesTheBrokerRefusesAreCountedAsRefusedNotPublished) {
  // Anonymous clients may publish station 1's messages and the status, not station 2's.
  directory_.Write("acl.txt", "topic write " + Topic("station/001/#") + "\ntopic write " +
                                  Topic("status") + "\ntopic read " + Topic("#") + "\n");
  Broker::Settings limited;
  limited.aclFile = std::filesystem::absolute("acl.txt").string();
  Broker broker(BrokerAddress(), limited);
  ASSERT_TRUE(broker.Start()) << broker.Log();
  Subscriber subscriber("historian");
  ASSERT_TRUE(subscriber.Subscribe(broker.Address(), broker.Port(), Topic("#")));
  StartStations(2, 2);

  auto run =
      testing_support::RunProgram(kHost, Joined(Arguments(broker, {"--samples", "3", "--json"})));

  std::vector<json> lines;
  for (const std::string &line : run.lines) lines.push_back(json::parse(line, nullptr, false));
  json summary = EventOf(lines, "mqttSummary");
  ASSERT_TRUE(summary.is_object()) << run.errors;
  long published = summary["published"], refused = summary["refused"];
  EXPECT_GE(refused, 3) << "station 2's samples: " << summary.dump();
  ASSERT_TRUE(WaitUntil([&] { return CountSamples(subscriber) >= published; }, kGenerous));
  EXPECT_EQ(static_cast<long>(SamplesOf(subscriber, 1).size()), published)
      << "only what the broker took counts as published";
  EXPECT_TRUE(SamplesOf(subscriber, 2).empty());
  EXPECT_TRUE(AnyStartsWith(
      MqttTexts(lines), "the broker " + broker.HostPort() + " refused samples (not authorized)"));
  EXPECT_EQ(ExitStatus(run.status), 3) << "refused samples are a gap in the record";
}

TEST_F(MqttPublishing, TwoRunnersWithOneClientIdAreToldSo) {
  Broker broker(BrokerAddress(), {});
  ASSERT_TRUE(broker.Start()) << broker.Log();
  StartStations(1, 1);
  // Two gateways made from one image: the same client id.
  std::vector<std::string> arguments =
      Arguments(broker, {"--json", "--mqtt-client-id", "devado-gw-1"});
  ChildProcess first, second;
  ASSERT_TRUE(first.Start(kHost, arguments, "first.txt", "first-err.txt"));
  ASSERT_TRUE(second.Start(kHost, arguments, "second.txt", "second-err.txt"));
  const std::string told =
      "with this runner's client id 'devado-gw-1'";  // the broker's word, or the pattern
  EXPECT_TRUE(WaitUntil(
      [&] { return Occurrences("first.txt", told) + Occurrences("second.txt", told) > 0; },
      kGenerous))
      << testing_support::ReadFile("first.txt") << testing_support::ReadFile("second.txt");
  first.Signal(SIGTERM);
  second.Signal(SIGTERM);
  first.Wait(kGenerous);
  second.Wait(kGenerous);
}

TEST_F(MqttPublishing, ALogInRefusedAfterItWasAcceptedIsTriedAgainAndNothingIsLost) {
  auto password = [](const char *word) {
    return std::system(
        (std::string(MOSQUITTO_PASSWD_PATH) + " -b users.txt gateway " + word).c_str());
  };
  directory_.Write("users.txt", "");
  ASSERT_EQ(password("s3cret-word"), 0);
  Broker::Settings users;
  users.passwordFile = std::filesystem::absolute("users.txt").string();
  Broker broker(BrokerAddress(), users);
  ASSERT_TRUE(broker.Start()) << broker.Log();
  StartStations(1, 1);
  directory_.Write("password.txt", "s3cret-word\n");
  ChildProcess runner;
  ASSERT_TRUE(runner.Start(kHost,
                           Arguments(broker, {"--json", "--mqtt-user", "gateway",
                                              "--mqtt-password-file", "password.txt"}),
                           "out.txt", "err.txt"));
  const std::string connected = "connected to the broker " + broker.HostPort();
  ASSERT_TRUE(WaitUntil([&] { return Occurrences("out.txt", connected) == 1; }, kGenerous));

  // The broker comes back with the gateway's password changed, then as it was.
  broker.Stop();
  ASSERT_EQ(password("rotated-word"), 0);
  ASSERT_TRUE(broker.Start()) << broker.Log();
  EXPECT_TRUE(
      WaitUntil([&] { return Occurrences("out.txt", "after it had accepted it") >= 1; }, kGenerous))
      << testing_support::ReadFile("out.txt");
  EXPECT_TRUE(runner.Running()) << "a refusal after an accepted log-in does not end the run";
  broker.Stop();
  ASSERT_EQ(password("s3cret-word"), 0);
  ASSERT_TRUE(broker.Start()) << broker.Log();
  EXPECT_TRUE(WaitUntil([&] { return Occurrences("out.txt", connected) == 2; }, kGenerous));

  runner.Signal(SIGTERM);
  ASSERT_EQ(runner.Wait(kGenerous), 0) << testing_support::ReadFile("err.txt");
  json summary = EventOf(JsonLines("out.txt"), "mqttSummary");
  EXPECT_EQ(summary["dropped"], 0);
  EXPECT_EQ(summary["unsent"], 0) << "what waited was published after the log-in came back";
}

// A failed hand-over of a message to the client library either leaves the message with
// the client, which sends it once connected again (it must not be counted as dropped),
// or means it was refused and can never be sent. A TLS connection that breaks during the
// hand-over is the first kind; it cannot be made to break at exactly that moment from
// outside, so the decision is checked here for each result the library may give.
TEST(MqttHandOver, AMessageIsHeldOnlyWhenTheConnectionBrokeDuringIt) {
  struct Case {
    int rc;
    int mid;
    bool held;
  } cases[] = {
      {MOSQ_ERR_NO_CONN, 7, true},
      {MOSQ_ERR_CONN_LOST, 7, true},
      {MOSQ_ERR_ERRNO, 7, true},
      {MOSQ_ERR_TLS, 7, true},
      {MOSQ_ERR_TLS, 0, false},
      {MOSQ_ERR_PAYLOAD_SIZE, 0, false},
      {MOSQ_ERR_OVERSIZE_PACKET, 7, false},
      {MOSQ_ERR_NOMEM, 0, false},
      {MOSQ_ERR_INVAL, 0, false},
      {MOSQ_ERR_MALFORMED_UTF8, 0, false},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(HeldByClient(c.rc, c.mid), c.held)
        << mosquitto_strerror(c.rc) << ", message id " << c.mid;
  }
}

// A self-signed certificate for `address` (as its IP address), made with openssl.
void MakeCertificate(const std::string &name, const std::string &address) {
  std::string command = "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -keyout " + name +
                        ".key -out " + name + ".pem -subj /CN=" + address +
                        " -addext subjectAltName=IP:" + address + " >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

struct TlsCase {
  const char *name;
  bool trusted;  // the runner's CA file holds the broker's certificate
  int status;
};

class MqttTls : public MqttPublishing, public testing::WithParamInterface<TlsCase> {};

TEST_P(MqttTls, PublishesOnlyToABrokerWhoseCertificateIsTrusted) {
  const TlsCase &c = GetParam();
  MakeCertificate("broker", BrokerAddress());
  MakeCertificate("stranger", BrokerAddress());
  Broker::Settings tls;
  tls.certificate = std::filesystem::absolute("broker.pem").string();
  tls.key = std::filesystem::absolute("broker.key").string();
  Broker broker(BrokerAddress(), tls);
  ASSERT_TRUE(broker.Start()) << broker.Log();
  StartStations(1, 1);

  auto run = testing_support::RunProgram(
      kHost, Joined(Arguments(broker, {"--once", "--json", "--mqtt-cafile",
                                       c.trusted ? "broker.pem" : "stranger.pem"})));

  EXPECT_EQ(ExitStatus(run.status), c.status) << run.errors;
  std::vector<json> lines;
  for (const std::string &line : run.lines) lines.push_back(json::parse(line, nullptr, false));
  json summary = EventOf(lines, "mqttSummary");
  ASSERT_TRUE(summary.is_object()) << run.errors;
  EXPECT_EQ(summary["connections"], c.trusted ? 1 : 0);
  EXPECT_EQ(summary["published"].get<long>() > 0, c.trusted);
  if (c.trusted) return;
  json notice = EventOf(lines, "mqtt");
  EXPECT_EQ(notice.value("text", "").find("cannot reach the broker " + broker.HostPort()), 0u)
      << notice.dump();
}

INSTANTIATE_TEST_SUITE_P(, MqttTls,
                         testing::Values(TlsCase{"TrustedCertificate", true, 0},
                                         TlsCase{"UnknownCertificate", false, 3}),
                         [](const testing::TestParamInfo<TlsCase> &info) {
                           return info.param.name;
                         });

TEST_F(MqttPublishing, AFullQueueDropsTheOldestSamplesAndCountsThem) {
  Broker nowhere(BrokerAddress(), {});  // configured, never started
  StartStations(1, 1);

  auto run = testing_support::RunProgram(
      kHost, Joined(Arguments(nowhere, {"--samples", "6", "--json", "--mqtt-queue", "3"})));

  std::vector<json> lines;
  for (const std::string &line : run.lines) lines.push_back(json::parse(line, nullptr, false));
  json summary = EventOf(lines, "mqttSummary");
  ASSERT_TRUE(summary.is_object()) << run.errors;
  json stations = EventOf(lines, "summary")["stations"];
  ASSERT_EQ(stations.size(), 1u);
  long samples = stations[0]["samples"];
  ASSERT_GE(samples, 6);
  EXPECT_EQ(summary["published"], 0);
  EXPECT_EQ(summary["unsent"], 3);
  EXPECT_EQ(summary["dropped"], samples - 3);
  EXPECT_EQ(summary["connections"], 0);
  bool unreachable = false, full = false;
  std::vector<int> pauses;  // "trying again in N s"
  for (const json &line : lines) {
    if (line.value("event", "") != "mqtt") continue;
    std::string text = line["text"];
    int pause = 0;
    std::size_t at = text.find("trying again in ");
    if (at != std::string::npos &&
        std::sscanf(text.c_str() + at, "trying again in %d s", &pause) == 1) {
      pauses.push_back(pause);
    }
    unreachable = unreachable || text.find("cannot reach the broker " + nowhere.HostPort()) == 0;
    full = full || text.find("the queue is full (3 samples): dropped the oldest") == 0;
  }
  EXPECT_TRUE(unreachable) << run.errors;
  EXPECT_TRUE(full);
  ASSERT_GE(pauses.size(), 2u);
  EXPECT_EQ(pauses[0], 1);
  for (std::size_t i = 1; i < pauses.size(); ++i)
    EXPECT_EQ(pauses[i], std::min(2 * pauses[i - 1], 30));
  EXPECT_EQ(ExitStatus(run.status), 3) << "samples that never reached the broker are a problem";
}

TEST_F(MqttPublishing, ABrokerThatNeverAnswersIsGivenUpAfter10SecondsAndTriedAgain) {
  testing_support::SilentListener silent(BrokerAddress());
  ASSERT_TRUE(silent.ok());
  StartStations(1, 1);

  auto run = testing_support::RunProgram(
      kHost, "--channels 2 --json --duration 13 --mqtt " + BrokerAddress() + ":" +
                 std::to_string(silent.Port()) + " --mqtt-prefix " + kPrefix);

  std::vector<json> lines;
  for (const std::string &line : run.lines) lines.push_back(json::parse(line, nullptr, false));
  json notice = EventOf(lines, "mqtt");
  EXPECT_EQ(notice.value("text", ""), "cannot reach the broker " + BrokerAddress() + ":" +
                                          std::to_string(silent.Port()) +
                                          " (no answer within 10 s); trying again in 1 s")
      << run.errors;
  json summary = EventOf(lines, "mqttSummary");
  ASSERT_TRUE(summary.is_object()) << run.errors;
  EXPECT_EQ(summary["connections"], 0);
  EXPECT_GT(summary["unsent"].get<long>(), 0);
  EXPECT_EQ(ExitStatus(run.status), 3);
}

TEST_F(MqttPublishing, AStoreKeepsEverySampleAcrossABrokerOutageAndAKilledRunner) {
  Broker::Settings keeping;
  keeping.keepsMessages = true;
  Broker broker(BrokerAddress(), keeping);
  ASSERT_TRUE(broker.Start()) << broker.Log();
  Subscriber historian("historian", true);
  ASSERT_TRUE(historian.Subscribe(broker.Address(), broker.Port(), Topic("#")));
  StartStations(2, 2);
  std::vector<std::string> arguments = Arguments(broker, {"--json", "--mqtt-store", "store.db"});
  ChildProcess first;
  ASSERT_TRUE(first.Start(kHost, arguments, "first.txt", "first-err.txt"));
  ASSERT_TRUE(WaitUntil([&] { return CountSamples(historian) >= 4; }, kGenerous))
      << testing_support::ReadFile("first-err.txt");

  // The broker goes away for 30 s; the runner keeps what comes in its store, is killed
  // halfway, and a new one on the same store goes on numbering and collecting until the
  // broker is back.
  broker.Stop();
  std::map<int, long> beforeStop;
  for (int station = 1; station <= 2; ++station) {
    for (const json &sample : SamplesOf(historian, station))
      beforeStop[station] = std::max(beforeStop[station], sample.value("sequence", 0L));
  }
  std::this_thread::sleep_for(std::chrono::seconds(15));  // samples written while it is away
  first.Signal(SIGKILL);
  ASSERT_EQ(first.Wait(kGenerous), -1);
  ChildProcess second;
  ASSERT_TRUE(second.Start(kHost, arguments, "second.txt", "second-err.txt"));
  std::this_thread::sleep_for(std::chrono::seconds(15));
  ASSERT_TRUE(broker.Start()) << broker.Log();

  // Every station's numbers arrive from 1 without a gap, each number for one sample only
  // (a copy sent again is the same sample), later numbers never for earlier samples; those that
  // waited come marked.
  auto complete = [&](int station, long *highest, long *historical) {
    std::map<long, std::string> times;  // by sequence number
    *highest = 0;
    *historical = 0;
    for (const json &sample : SamplesOf(historian, station)) {
      long sequence = sample.value("sequence", 0L);
      auto known = times.emplace(sequence, sample.value("time", "")).first;
      EXPECT_EQ(known->second, sample.value("time", "")) << "numbered twice: " << sample.dump();
      *highest = std::max(*highest, sequence);
      if (sample.value("historical", false)) ++*historical;
    }
    for (auto it = times.begin(); it != times.end() && std::next(it) != times.end(); ++it)
      EXPECT_LE(it->second, std::next(it)->second) << "station " << station << ", " << it->first;
    return *highest > beforeStop[station] + 6 && static_cast<long>(times.size()) == *highest;
  };
  long highest[3] = {}, historical[3] = {};
  EXPECT_TRUE(WaitUntil(
      [&] {
        return complete(1, &highest[1], &historical[1]) && complete(2, &highest[2], &historical[2]);
      },
      kGenerous))
      << "station 1 up to " << highest[1] << ", station 2 up to " << highest[2];
  second.Signal(SIGTERM);
  ASSERT_EQ(second.Wait(kGenerous), 0) << testing_support::ReadFile("second-err.txt");
  json summary = EventOf(JsonLines("second.txt"), "mqttSummary");
  ASSERT_TRUE(summary.is_object());
  EXPECT_EQ(summary["dropped"], 0);
  EXPECT_EQ(summary["unsent"], 0);
  EXPECT_EQ(summary["stored"], 0) << "what the broker acknowledged left the store";
  for (int station = 1; station <= 2; ++station) {
    EXPECT_GE(historical[station], 4) << "the samples of the outage are replayed as historical";
    for (const json &sample : SamplesOf(historian, station)) {
      if (sample.value("sequence", 0L) <= beforeStop[station]) {
        EXPECT_FALSE(sample.contains("historical")) << "published live: " << sample.dump();
      }
    }
  }
}

// A file at the store's path that is not a store this release can use.
struct BadStoreCase {
  const char *name;
  void (*spoil)(const std::string &path);  // turns a good store into the bad one
  const char *why;                         // in the line that tells of it
};

void PutBigEndian(const std::string &path, long offset, std::uint32_t value) {
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  file.seekp(offset);
  const char bytes[4] = {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
                         static_cast<char>(value >> 8), static_cast<char>(value)};
  file.write(bytes, 4);
}

const BadStoreCase kBadStores[] = {
    {"Garbage",
     [](const std::string &path) {
       std::ofstream(path, std::ios::binary | std::ios::trunc) << std::string(5000, '\x5a');
     },
     "is not a store"},
    {"Truncated", [](const std::string &path) { std::filesystem::resize_file(path, 1500); }, "is "},
    // The header's application id (offset 68) and schema version (offset 60).
    {"AnotherProgramsDatabase", [](const std::string &path) { PutBigEndian(path, 68, 0x12345678); },
     "is another program's database"},
    {"NewerSchema", [](const std::string &path) { PutBigEndian(path, 60, 2); },
     "has schema version 2, which this release (version 1) cannot read"},
};

class MqttBadStore : public MqttPublishing, public testing::WithParamInterface<BadStoreCase> {};

TEST_P(MqttBadStore, IsMovedAsideWithALineAndCollectionGoesOnInAFreshStore) {
  Broker broker(BrokerAddress(), {});
  ASSERT_TRUE(broker.Start()) << broker.Log();
  StartStations(1, 1);
  std::string arguments =
      Joined(Arguments(broker, {"--samples", "2", "--json", "--mqtt-store", "store.db"}));
  auto made = testing_support::RunProgram(kHost, arguments);
  ASSERT_EQ(ExitStatus(made.status), 0) << made.errors;
  GetParam().spoil("store.db");
  std::string spoiled = testing_support::ReadFile("store.db");

  auto run = testing_support::RunProgram(kHost, arguments);

  ASSERT_EQ(ExitStatus(run.status), 0) << run.errors;
  std::vector<json> lines;
  for (const std::string &line : run.lines) lines.push_back(json::parse(line, nullptr, false));
  std::vector<std::string> texts = MqttTexts(lines);
  EXPECT_TRUE(AnyStartsWith(texts, std::string("the store store.db ") + GetParam().why))
      << run.errors;
  std::string aside;
  for (const auto &entry : std::filesystem::directory_iterator(".")) {
    std::string name = entry.path().filename().string();
    if (name.rfind("store.db.bad-", 0) == 0 && name.find("-wal") == std::string::npos) aside = name;
  }
  ASSERT_FALSE(aside.empty()) << "moved aside, never overwritten";
  EXPECT_EQ(testing_support::ReadFile(aside), spoiled);
  bool told = false;
  for (const std::string &text : texts)
    told = told || text.find(": moved aside to " + aside) != std::string::npos;
  EXPECT_TRUE(told) << "the line names where the file went";
  json summary = EventOf(lines, "mqttSummary");
  EXPECT_GE(summary.value("published", 0L), 2) << "collection goes on in a fresh store";
  EXPECT_EQ(summary["stored"], 0);
}

INSTANTIATE_TEST_SUITE_P(, MqttBadStore, testing::ValuesIn(kBadStores),
                         [](const testing::TestParamInfo<BadStoreCase> &info) {
                           return std::string(info.param.name);
                         });

// Rewrites the payload of the store's `nth` oldest sample, as damage on disk would.
void SpoilStoredSample(const std::string &path, int nth, const std::string &payload) {
  sqlite3 *db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  sqlite3_stmt *update = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db,
                               "UPDATE samples SET payload=?1 WHERE id=(SELECT id FROM samples "
                               "ORDER BY id LIMIT 1 OFFSET ?2)",
                               -1, &update, nullptr),
            SQLITE_OK);
  sqlite3_bind_blob(update, 1, payload.data(), static_cast<int>(payload.size()), SQLITE_TRANSIENT);
  sqlite3_bind_int(update, 2, nth);
  EXPECT_EQ(sqlite3_step(update), SQLITE_DONE);
  EXPECT_EQ(sqlite3_changes(db), 1);
  sqlite3_finalize(update);
  sqlite3_close(db);
}

TEST_F(MqttPublishing, AnAbsurdSampleInTheStoreIsSkippedWithALineAndTheRestReplayed) {
  Broker broker(BrokerAddress(), {});  // away while the store fills
  StartStations(1, 1);
  auto filled = testing_support::RunProgram(
      kHost, Joined(Arguments(broker, {"--samples", "4", "--json", "--mqtt-store", "store.db"})));
  json kept = EventOf(Parsed(filled.lines), "mqttSummary");
  long stored = kept.value("stored", 0L);
  ASSERT_GE(stored, 4) << filled.errors;
  SpoilStoredSample("store.db", 0, std::string(200000, '{'));  // far too large
  SpoilStoredSample("store.db", 1, "not a sample");

  ASSERT_TRUE(broker.Start()) << broker.Log();
  Subscriber subscriber("historian");
  ASSERT_TRUE(subscriber.Subscribe(broker.Address(), broker.Port(), Topic("#")));
  auto run = testing_support::RunProgram(
      kHost, Joined(Arguments(broker, {"--samples", "1", "--json", "--mqtt-store", "store.db"})));

  ASSERT_EQ(ExitStatus(run.status), 0) << run.errors;
  std::vector<json> lines = Parsed(run.lines);
  int skipped = 0;
  for (const std::string &text : MqttTexts(lines)) {
    skipped += text.find("held a sample that this runner cannot have written") != std::string::npos;
  }
  EXPECT_EQ(skipped, 2);
  auto historical = [&] {
    long count = 0;
    for (const json &sample : SamplesOf(subscriber, 1)) count += sample.value("historical", false);
    return count;
  };
  EXPECT_TRUE(WaitUntil([&] { return historical() == stored - 2; }, kGenerous)) << historical();
  EXPECT_EQ(EventOf(lines, "mqttSummary")["stored"], 0);
}

// A file system of its own for the store, 64 KiB by default: a disk that fills, or one
// that is made read-only. Mounting needs root.
class SmallDisk {
 public:
  explicit SmallDisk(const char *size = "64k") {
    std::filesystem::create_directory("disk");
    std::string mount = std::string("mount -t tmpfs -o size=") + size + " tmpfs disk 2>/dev/null";
    mounted_ = std::system(mount.c_str()) == 0;
  }
  ~SmallDisk() {
    if (mounted_) std::system("umount disk");
  }
  bool mounted() const { return mounted_; }
  bool MakeReadOnly() { return std::system("mount -o remount,ro disk 2>/dev/null") == 0; }

 private:
  bool mounted_ = false;
};

TEST_F(MqttPublishing, AFullDiskIsToldOnceAndTheSamplesGoOutFromMemory) {
  SmallDisk disk;
  if (!disk.mounted()) GTEST_SKIP() << "a small file system cannot be mounted here (not root)";
  Broker broker(BrokerAddress(), {});
  ASSERT_TRUE(broker.Start()) << broker.Log();
  Subscriber subscriber("historian");
  ASSERT_TRUE(subscriber.Subscribe(broker.Address(), broker.Port(), Topic("#")));
  StartStations(2, 2);

  auto run = testing_support::RunProgram(
      kHost,
      Joined(Arguments(broker, {"--samples", "30", "--json", "--mqtt-store", "disk/store.db"})));

  ASSERT_EQ(ExitStatus(run.status), 0) << run.errors;
  std::vector<json> lines = Parsed(run.lines);
  int failing = 0;
  for (const std::string &text : MqttTexts(lines)) {
    failing += text.rfind("the store disk/store.db is failing (", 0) == 0;
  }
  EXPECT_EQ(failing, 1) << "said once, not once per sample";
  json summary = EventOf(lines, "mqttSummary");
  EXPECT_EQ(summary["dropped"], 0);
  EXPECT_EQ(summary["unsent"], 0);
  long published = summary["published"];
  ASSERT_TRUE(WaitUntil([&] { return CountSamples(subscriber) >= published; }, kGenerous));
  for (int station = 1; station <= 2; ++station) {
    std::vector<json> samples = SamplesOf(subscriber, station);
    EXPECT_GE(samples.size(), 30u) << "station " << station;
    ExpectEveryOneOnceInOrder(samples, station);
  }
}

// A store on a file system that turned read-only (an SD card that failed, say): the run
// says so once and publishes from memory, and what the store held stays there.
TEST_F(MqttPublishing, AReadOnlyStoreIsToldOnceAndKeepsWhatItHeld) {
  SmallDisk disk("4m");
  if (!disk.mounted()) GTEST_SKIP() << "a small file system cannot be mounted here (not root)";
  StartStations(1, 1);
  {
    Broker nowhere(BrokerAddress(), {});  // configured, never started
    auto first = testing_support::RunProgram(
        kHost,
        Joined(Arguments(nowhere, {"--samples", "3", "--json", "--mqtt-store", "disk/store.db"})));
    ASSERT_GT(EventOf(Parsed(first.lines), "mqttSummary").value("stored", 0L), 0) << first.errors;
  }
  auto held = std::filesystem::file_size("disk/store.db");
  ASSERT_TRUE(disk.MakeReadOnly());
  Broker broker(BrokerAddress(), {});
  ASSERT_TRUE(broker.Start()) << broker.Log();

  auto run = testing_support::RunProgram(
      kHost,
      Joined(Arguments(broker, {"--samples", "3", "--json", "--mqtt-store", "disk/store.db"})));

  std::vector<json> lines = Parsed(run.lines);
  int told = 0;
  for (const std::string &text : MqttTexts(lines)) {
    told +=
        text.rfind("cannot use the store disk/store.db: it is on a read-only file system", 0) == 0;
  }
  EXPECT_EQ(told, 1) << run.errors;
  EXPECT_GE(EventOf(lines, "mqttSummary").value("published", 0L), 3) << run.errors;
  EXPECT_EQ(std::filesystem::file_size("disk/store.db"), held) << "what the store held is kept";
  for (const auto &entry : std::filesystem::directory_iterator("disk")) {
    EXPECT_EQ(entry.path().filename().string().find(".bad-"), std::string::npos)
        << "moved aside: " << entry.path();
  }
}

TEST_F(MqttPublishing, AStoreThatAnotherRunnerHoldsIsRefused) {
  Broker broker(BrokerAddress(), {});
  ASSERT_TRUE(broker.Start()) << broker.Log();
  StartStations(1, 1);
  std::vector<std::string> arguments = Arguments(broker, {"--json", "--mqtt-store", "store.db"});
  ChildProcess holder;
  ASSERT_TRUE(holder.Start(kHost, arguments, "holder.txt", "holder-err.txt"));
  ASSERT_TRUE(WaitUntil([] { return std::filesystem::exists("store.db"); }, kGenerous));

  auto run = testing_support::RunProgram(kHost, Joined(arguments));

  EXPECT_EQ(ExitStatus(run.status), 1);
  EXPECT_NE(run.errors.find("the store store.db is in use by another running devado-host"),
            std::string::npos)
      << run.errors;
  // A closed terminal ends the holder's run as SIGTERM would: drained, status 0.
  holder.Signal(SIGHUP);
  EXPECT_EQ(holder.Wait(kGenerous), 0)
      << "the holder goes on: " << testing_support::ReadFile("holder-err.txt");
}

TEST_F(MqttPublishing, AFullStoreDropsTheOldestSamplesAndCountsThem) {
  Broker nowhere(BrokerAddress(), {});  // configured, never started
  // 160 samples take some 40 KiB at the least, well over the bound, however the run goes.
  StartStations(8, 8);

  auto run = testing_support::RunProgram(
      kHost, Joined(Arguments(nowhere, {"--samples", "20", "--json", "--mqtt-store", "store.db",
                                        "--mqtt-store-max", "32K"})));

  std::vector<json> lines;
  for (const std::string &line : run.lines) lines.push_back(json::parse(line, nullptr, false));
  json summary = EventOf(lines, "mqttSummary");
  ASSERT_TRUE(summary.is_object()) << run.errors;
  json stations = EventOf(lines, "summary")["stations"];
  long samples = 0;
  for (const json &station : stations) samples += station.value("samples", 0L);
  ASSERT_GE(samples, 160);
  long stored = summary["stored"], dropped = summary["dropped"];
  EXPECT_GT(stored, 0);
  EXPECT_GT(dropped, 0);
  EXPECT_EQ(stored + dropped, samples) << "each sample is either kept or counted";
  EXPECT_LE(std::filesystem::file_size("store.db"), 64u * 1024) << "bounded on disk";
  EXPECT_TRUE(
      AnyStartsWith(MqttTexts(lines), "the store is full (32768 bytes): dropped the oldest"));
  EXPECT_EQ(ExitStatus(run.status), 3) << "dropped samples are a problem";
}

TEST_F(MqttPublishing, AStoreThatCannotBeUsedLeavesTheRunPublishingFromMemory) {
  Broker broker(BrokerAddress(), {});
  ASSERT_TRUE(broker.Start()) << broker.Log();
  StartStations(1, 1);

  auto run = testing_support::RunProgram(
      kHost, Joined(Arguments(broker, {"--samples", "2", "--json", "--mqtt-store", "/dev/null"})));

  ASSERT_EQ(ExitStatus(run.status), 0) << run.errors;
  std::vector<json> lines;
  for (const std::string &line : run.lines) lines.push_back(json::parse(line, nullptr, false));
  EXPECT_TRUE(AnyStartsWith(MqttTexts(lines),
                            "cannot use the store /dev/null: it is not a regular file; samples "
                            "are kept in memory only"));
  EXPECT_GE(EventOf(lines, "mqttSummary").value("published", 0L), 2);
  EXPECT_TRUE(std::filesystem::is_character_file("/dev/null")) << "never moved aside";
}

}  // namespace
