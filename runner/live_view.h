// The live view on a terminal: a block per station with its link state, its last sample
// and a bar per channel, and the driver's latest log lines, redrawn in place.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "runner/event_log.h"

struct LiveHeader {
  std::string driverName;
  int instance = 1;
  std::string initFile;
  int updateRate = 0;
  std::chrono::seconds elapsed{0};
  int durationSeconds = 0;         // 0: until Ctrl-C
  std::vector<std::string> notes;  // shown below the title: the refused tags
  bool colours = true;             // false: plain text (NO_COLOR)
};

constexpr std::size_t kLiveLogLines = 8;

// The screen as lines of text with ANSI colours, fitted to `rows` by showing fewer log
// lines and to `columns` by cutting the log lines.
std::string RenderLiveView(const LiveHeader &header, const EventSnapshot &snapshot, int rows,
                           int columns);

// Draws `screen` over the previous one: cursor home, each line cleared to its end, and
// the rest of the screen cleared.
void DrawInPlace(std::FILE *out, const std::string &screen);

// The cursor is hidden while the view runs and shown again afterwards.
void ShowCursor(std::FILE *out, bool visible);
