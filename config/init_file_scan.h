// What the init file "DEVADOnn.int" says, line by line, without acting on it: the driver
// reads its settings from this at cold start, and the host runner checks a file with the
// very same reading before it is used.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr std::uint32_t kMinUpdateRate = 1;     // seconds
constexpr std::uint32_t kMaxUpdateRate = 1000;  // seconds

enum class InitLineKind {
  kUpdateRate,        // "UPDATE RATE = n" with n in 1..1000: sets the update rate
  kBadUpdateRate,     // an update rate line with a value out of range
  kStation,           // "nnn = a.b.c.d": sets a station's address
  kBadStationNumber,  // a station line whose number is not 1..255
  kBadAddress,        // a station line whose address cannot be connected
  kNotASetting,       // any other line: passed over without a word
};

struct InitLine {
  int lineNumber = 0;  // of the file, from 1; a line longer than 255 characters is read in
                       // pieces, each judged alone, all with the same number
  std::string text;    // the piece as judged, without its line end
  InitLineKind kind = InitLineKind::kNotASetting;
  std::uint32_t value = 0;  // the update rate, or the station number
  std::string address;      // of a station line
};

// "DEVADOnn.int" for instance nn.
std::string InitFileName(int instance);

// Reads and judges the file's lines (at most 1000 pieces). False when it cannot be opened
// or read (a folder of that name, say).
bool ScanInitFile(const std::string &fileName, std::vector<InitLine> *lines);
