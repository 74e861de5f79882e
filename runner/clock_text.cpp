#include "runner/clock_text.h"

#include <cstdio>
#include <ctime>

namespace {

// The reentrant forms: std::localtime and std::gmtime share one result buffer between
// all threads and both functions. The platforms name them differently and take the
// arguments in a different order.
std::tm LocalTime(std::time_t seconds) {
  std::tm local{};
#if defined(_WIN32)
  if (localtime_s(&local, &seconds) != 0) return std::tm{};
#else
  if (localtime_r(&seconds, &local) == nullptr) return std::tm{};
#endif
  return local;
}

std::tm UtcTime(std::time_t seconds) {
  std::tm utc{};
#if defined(_WIN32)
  if (gmtime_s(&utc, &seconds) != 0) return std::tm{};
#else
  if (gmtime_r(&seconds, &utc) == nullptr) return std::tm{};
#endif
  return utc;
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
long long DaysFromCivil(long long year, int month, int day) {
  year -= month <= 2;
  long long era = (year >= 0 ? year : year - 399) / 400;
  long long yearOfEra = year - era * 400;
  long long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

long long SecondsOf(const std::tm &t) {
  return DaysFromCivil(t.tm_year + 1900LL, t.tm_mon + 1, t.tm_mday) * 86400 + t.tm_hour * 3600 +
         t.tm_min * 60 + t.tm_sec;
}

}  // namespace

std::string IsoTime(WallTime time) {
  std::time_t seconds = std::chrono::system_clock::to_time_t(time);
  auto sinceEpoch = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch());
  int millis = static_cast<int>(sinceEpoch.count() % 1000);
  std::tm local = LocalTime(seconds);
  // The zone's offset at that moment, daylight saving included; the platforms differ in how
  // strftime spells it, so it is worked out from the two calendars.
  long long offsetMinutes = (SecondsOf(local) - SecondsOf(UtcTime(seconds))) / 60;
  char sign = offsetMinutes < 0 ? '-' : '+';
  long long magnitude = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02lld:%02lld",
                local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                local.tm_sec, millis < 0 ? 0 : millis, sign, magnitude / 60, magnitude % 60);
  return text;
}

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
