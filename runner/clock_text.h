// Times as the tools show them: local time of day, ISO 8601 times, and lengths of time.
#pragma once

#include <chrono>
#include <string>

using WallTime = std::chrono::system_clock::time_point;

// "HH:MM:SS.mmm", or "HH:MM:SS" without the milliseconds.
std::string TimeOfDay(WallTime time, bool milliseconds = true);

// ISO 8601 local time with date, milliseconds and the zone's offset:
// "2026-12-09T14:03:07.125+01:00".
std::string IsoTime(WallTime time);

// "MM:SS", or "H:MM:SS" from an hour on.
std::string Duration(std::chrono::seconds length);
