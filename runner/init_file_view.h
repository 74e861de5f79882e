// The runner's read-only view of the driver's init file: which stations the instance
// serves, so that the runner can define their tags and show their progress. The
// driver reads the file itself at cold start and logs what it makes of each line.
#pragma once

#include <string>
#include <vector>

struct ConfiguredStation {
  int number = 0;
  std::string address;
};

struct InitFileView {
  std::string fileName;
  int updateRate = 10;                      // seconds, the driver's default
  std::vector<ConfiguredStation> stations;  // by ascending station number
};

// "DEVADOnn.int" for instance nn.
std::string InitFileName(int instance);

// Reads the init file of the instance from the current directory. False with a reason
// when it cannot be opened.
bool ReadInitFileView(int instance, InitFileView *view, std::string *error);

// The view of one line, applied as the driver applies it (a later station line wins).
void ApplyInitLine(const char *line, InitFileView *view);
