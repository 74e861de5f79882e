// The runner's view of the driver's init file, read by the driver's own rules: which
// stations the instance serves and at which update rate, so that the runner can define
// their tags, show their progress and check the file before it is used. The driver reads
// the file itself at cold start and logs what it makes of each line.
#pragma once

#include <string>
#include <vector>

#include "config/init_file_scan.h"

struct ConfiguredStation {
  int number = 0;
  std::string address;
  int lineNumber = 0;  // the line that set it (a later line for the station wins)
};

struct InitFileView {
  std::string fileName;
  int updateRate = 10;                      // seconds, the driver's default
  int updateRateLine = 0;                   // the line that set it; 0: the default
  std::vector<ConfiguredStation> stations;  // by ascending station number
  std::vector<InitLine> lines;              // every line as the driver judges it
};

// Reads the init file of the instance from the current directory. False with a reason
// when it cannot be read.
bool ReadInitFileView(int instance, InitFileView *view, std::string *error);
