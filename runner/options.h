// The command line of devado-host.
#pragma once

#include <string>
#include <vector>

enum class OutputMode {
  kAuto,   // the live view on a terminal, plain lines otherwise
  kLive,   // the live view, also when standard output is not known as a terminal
  kPlain,  // one line per gate write and per link change
  kJson,   // the same events as JSON lines, with a closing summary
};

struct Options {
  std::string driverPath;  // empty: the driver beside the program
  std::string tagsPath;    // empty: the default tags of every configured station
  std::string logPath;     // empty: the driver's log lines are only shown
  int instance = 1;
  int channels = 6;
  int durationSeconds = 0;  // 0: until Ctrl-C or SIGTERM
  int samples = 0;          // >0: end once every station delivered this many samples
  std::string csvPath;      // empty: no CSV file
  OutputMode output = OutputMode::kAuto;
  bool check = false;   // check the init file and the tags offline, and stop
  bool detail = false;  // the live view shows the driver's detail lines (level 0) too
  bool hex = false;
  bool help = false;
  bool version = false;
};

// False with a message in `error` for an unknown option, a missing or bad value.
bool ParseOptions(const std::vector<std::string> &args, Options *options, std::string *error);

std::string UsageText();
