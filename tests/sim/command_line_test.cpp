// The command line of countnet-sim.
#include <gtest/gtest.h>

#include "sim/command_line.h"

namespace {

struct CommandLineCase {
  std::vector<std::string> args;
  std::string error;  // a part of the message; empty when the line is valid
  std::vector<std::string> addresses;
  std::vector<int> channels;
};

TEST(SimCommandLine, ParsesStationsAndRefusesWhatItCannotServe) {
  const CommandLineCase cases[] = {
      {{}, "", {"127.0.0.1"}, {6}},
      {{"--channels", "8", "--address", "127.0.0.21", "--address", "127.0.0.22", "--channels", "2"},
       "",
       {"127.0.0.21", "127.0.0.22"},
       {8, 2}},
      {{"--address", "10.1.2.3"}, "127.0.0.0/8", {}, {}},
      {{"--address", "127.0.0.300"}, "127.0.0.0/8", {}, {}},
      {{"--address", "127.0.0.5", "--address", "127.0.0.5"}, "twice", {}, {}},
      {{"--channels", "33"}, "bad value '33' for --channels", {}, {}},
      {{"--fault", "sometimes"}, "bad value", {}, {}},
      {{"--seed"}, "needs a value", {}, {}},
      {{"--colour", "red"}, "unknown option '--colour'", {}, {}},
      {{"--seconds", "0"}, "bad value", {}, {}},
  };
  for (const CommandLineCase &c : cases) {
    sim::CommandLine line;
    std::string error;
    bool ok = sim::ParseCommandLine(c.args, &line, &error);
    EXPECT_EQ(ok, c.error.empty()) << error;
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
    if (!ok) continue;
    ASSERT_EQ(line.stations.size(), c.addresses.size());
    for (std::size_t i = 0; i < c.addresses.size(); ++i) {
      EXPECT_EQ(line.stations[i].address, c.addresses[i]);
      EXPECT_EQ(line.stations[i].channelCount, c.channels[i]);
    }
  }
}

TEST(SimCommandLine, SetsEverySetting) {
  sim::CommandLine line;
  std::string error;
  ASSERT_TRUE(sim::ParseCommandLine({"--address",
                                     "127.0.0.9",
                                     "--volume",
                                     "28317",
                                     "--exponent",
                                     "-1",
                                     "--flags",
                                     "0x0C",
                                     "--seed",
                                     "77",
                                     "--period-ms",
                                     "250",
                                     "--fault",
                                     "reset",
                                     "--fault-count",
                                     "5",
                                     "--bad-length",
                                     "17",
                                     "--split-pieces",
                                     "4",
                                     "--split-pause-ms",
                                     "10",
                                     "--type",
                                     "T 1",
                                     "--instrument-version",
                                     "V 2",
                                     "--seconds",
                                     "3",
                                     "--quiet"},
                                    &line, &error))
      << error;
  const sim::Options &o = line.stations.at(0);
  EXPECT_EQ(o.sampleVolume, 28317);
  EXPECT_EQ(o.volumeExponent, -1);
  EXPECT_EQ(o.statusFlags, 0x0C);
  EXPECT_EQ(o.seed, 77u);
  EXPECT_EQ(o.samplePeriodMs, 250);
  EXPECT_EQ(o.fault, sim::FaultMode::kResetAfter);
  EXPECT_EQ(o.faultCount, 5);
  EXPECT_EQ(o.impossibleLength, 17);
  EXPECT_EQ(o.splitPieces, 4);
  EXPECT_EQ(o.splitPauseMs, 10);
  EXPECT_EQ(o.instrumentType, "T 1");
  EXPECT_EQ(o.instrumentVersion, "V 2");
  EXPECT_EQ(line.seconds, 3);
  EXPECT_FALSE(line.watchInput);
  EXPECT_TRUE(line.quiet);
  // A spell of silence set before the first --address belongs to every station.
  sim::CommandLine scheduled;
  ASSERT_TRUE(sim::ParseCommandLine({"--silent-for", "15", "--address", "127.0.0.9", "--address",
                                     "127.0.0.10", "--silent-from", "20"},
                                    &scheduled, &error))
      << error;
  ASSERT_EQ(scheduled.silences.size(), 2u);
  EXPECT_EQ(scheduled.silences[0].fromSeconds, -1);
  EXPECT_EQ(scheduled.silences[0].forSeconds, 15);
  EXPECT_EQ(scheduled.silences[1].fromSeconds, 20);
  EXPECT_EQ(scheduled.silences[1].forSeconds, 15);
  EXPECT_FALSE(sim::ParseCommandLine({"--silent-for", "0"}, &scheduled, &error));
  for (const char *name : {"none", "silent", "close", "reset", "garbage", "wrong-magic",
                           "bad-length", "split", "burst", "refuse", "late"}) {
    sim::FaultMode mode = sim::FaultMode::kNone;
    EXPECT_TRUE(sim::ParseFaultMode(name, &mode)) << name;
    EXPECT_STREQ(sim::FaultName(mode), name);
  }
}

}  // namespace
