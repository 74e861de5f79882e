#include "runner/clock_text.h"

#include <cstdio>
#include <ctime>
#include <mutex>

namespace {

// std::localtime shares one result buffer between threads; the platforms' reentrant
// variants differ in name and argument order.
std::tm LocalTime(std::time_t seconds) {
  static std::mutex mutex;
  std::lock_guard<std::mutex> lock(mutex);
  const std::tm *local = std::localtime(&seconds);
  return local != nullptr ? *local : std::tm{};
}

}  // namespace

std::string TimeOfDay(WallTime time, bool milliseconds) {
  std::time_t seconds = std::chrono::system_clock::to_time_t(time);
  auto sinceEpoch = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch());
  int millis = static_cast<int>(sinceEpoch.count() % 1000);
  std::tm local = LocalTime(seconds);
  char text[32];
  if (milliseconds) {
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min,
                  local.tm_sec, millis);
  } else {
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
  }
  return text;
}

std::string Duration(std::chrono::seconds length) {
  long long total = length.count() < 0 ? 0 : length.count();
  char text[32];
  if (total >= 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60,
                  total % 60);
  } else {
    std::snprintf(text, sizeof text, "%02lld:%02lld", total / 60, total % 60);
  }
  return text;
}
