// The command line of countnet-sim: one or more stations, each introduced by --address,
// with the settings that follow it. Settings before the first --address are the defaults
// of every station.
#pragma once

#include <string>
#include <vector>

#include "sim/station.h"

namespace sim {

// A spell of silence on a schedule: from `fromSeconds` after the start the station sends
// nothing (fault mode silent), for `forSeconds` (0: until the end), then behaves as before.
struct SilentSpell {
  int fromSeconds = -1;  // -1: never silent
  int forSeconds = 0;
};

struct CommandLine {
  std::vector<Options> stations;
  std::vector<SilentSpell> silences;  // one per station, in the order of `stations`
  int seconds = 0;                    // 0: until Ctrl-C (or the end of standard input)
  bool watchInput = true;             // stop at the end of standard input
  bool quiet = false;                 // no log lines
  bool help = false;
  bool version = false;  // print the simulator's version and stop
};

// False with a message in `error` for an unknown option, a missing or bad value, an
// address outside 127.0.0.0/8 or an address given twice.
bool ParseCommandLine(const std::vector<std::string> &args, CommandLine *commandLine,
                      std::string *error);

std::string Usage();

}  // namespace sim
