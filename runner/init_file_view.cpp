#include "runner/init_file_view.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr unsigned kMinUpdateRate = 1;
constexpr unsigned kMaxUpdateRate = 1000;
constexpr unsigned kMaxStation = 255;
constexpr int kLineSize = 256;  // the driver reads at most 255 characters per line
constexpr int kMaxLines = 1000;

bool IsDottedAddress(const char *text) {
  int parts[4];
  if (std::sscanf(text, "%d.%d.%d.%d", &parts[0], &parts[1], &parts[2], &parts[3]) != 4) {
    return false;
  }
  return std::all_of(parts, parts + 4, [](int part) { return part >= 0 && part <= 255; });
}

void SetStation(int number, const std::string &address, InitFileView *view) {
  auto &stations = view->stations;
  auto at = std::find_if(stations.begin(), stations.end(),
                         [number](const ConfiguredStation &s) { return s.number >= number; });
  if (at != stations.end() && at->number == number) {
    at->address = address;
  } else {
    stations.insert(at, {number, address});
  }
}

}  // namespace

std::string InitFileName(int instance) {
  char name[32];
  std::snprintf(name, sizeof name, "DEVADO%02d.int", instance);
  return name;
}

void ApplyInitLine(const char *line, InitFileView *view) {
  unsigned value = 0;
  if (std::sscanf(line, " UPDATE RATE = %u", &value) == 1) {
    if (value >= kMinUpdateRate && value <= kMaxUpdateRate)
      view->updateRate = static_cast<int>(value);
    return;
  }
  char address[kLineSize];
  if (std::sscanf(line, " %3u = %255s", &value, address) != 2) return;
  // The driver keeps at most 15 characters of an address.
  if (value == 0 || value > kMaxStation || !IsDottedAddress(address) || std::strlen(address) > 15) {
    return;
  }
  SetStation(static_cast<int>(value), address, view);
}

bool ReadInitFileView(int instance, InitFileView *view, std::string *error) {
  view->fileName = InitFileName(instance);
  std::FILE *file = std::fopen(view->fileName.c_str(), "r");
  if (file == nullptr) {
    *error = view->fileName + ": " + std::strerror(errno);
    return false;
  }
  char line[kLineSize];
  for (int count = 0; count < kMaxLines && std::fgets(line, sizeof line, file) != nullptr;
       ++count) {
    ApplyInitLine(line, view);
  }
  std::fclose(file);
  return true;
}
