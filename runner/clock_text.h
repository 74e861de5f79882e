// Times as the runner shows them: local time of day, and lengths of time.
#pragma once

#include <chrono>
#include <string>

using WallTime = std::chrono::system_clock::time_point;

// "HH:MM:SS.mmm", or "HH:MM:SS" without the milliseconds.
std::string TimeOfDay(WallTime time, bool milliseconds = true);

// "MM:SS", or "H:MM:SS" from an hour on.
std::string Duration(std::chrono::seconds length);
