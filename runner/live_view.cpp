#include "runner/live_view.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdarg>
#include <vector>

namespace {

const char *const kRed = "\x1b[31m";
const char *const kGreen = "\x1b[32m";
const char *const kYellow = "\x1b[33m";
const char *const kBold = "\x1b[1m";
const char *const kDim = "\x1b[2m";
const char *const kReset = "\x1b[0m";
// Eighths of a cell, for bars that grow smoothly.
const char *const kEighths[] = {"", "▏", "▎", "▍", "▌", "▋", "▊", "▉"};
const char *const kFullCell = "█";
constexpr int kMinBarWidth = 10;
constexpr int kMaxBarWidth = 40;
constexpr int kChannelLabelWidth = 26;  // the columns before a channel's bar
constexpr std::size_t kMaxNotes = 5;
constexpr int kMinLogRows = 4;  // the log's title and three lines
// Columns of eighths, for a station's channels side by side.
const char *const kColumns[] = {"▁", "▂", "▃", "▄", "▅", "▆", "▇", "█"};

std::string Printf(const char *format, ...) __attribute__((format(printf, 1, 2)));

std::string Printf(const char *format, ...) {
  char text[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

// Drops the colour and weight sequences (ESC [ ... m) and keeps everything else.
std::string WithoutColours(const std::string &text) {
  std::string plain;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\x1b' && i + 1 < text.size() && text[i + 1] == '[') {
      std::size_t end = text.find('m', i + 2);
      if (end != std::string::npos) {
        i = end;
        continue;
      }
    }
    plain += text[i];
  }
  return plain;
}

std::string Coloured(const char *colour, const std::string &text) {
  return colour + text + kReset;
}

std::string LinkText(const StationState &station) {
  std::string since = TimeOfDay(station.linkSince, false);
  std::string cause = station.cause.empty() ? "" : ": " + station.cause;
  switch (station.link) {
    case LinkState::kWaiting:
      return Coloured(kDim, "waiting");
    case LinkState::kConnected:
      return Coloured(kGreen, "connected");
    case LinkState::kNotConnected:
      return Coloured(kRed, "not connected" + cause);
    case LinkState::kFailed:
      return Coloured(kRed, std::string(kBold) + "FAILED since " + since + cause);
    case LinkState::kRestored:
      return Coloured(kYellow, "restored at " + since);
  }
  return "";
}

std::string Bar(double value, double largest, int width) {
  if (!(largest > 0) || !(value > 0)) return "";
  int eighths = static_cast<int>(std::lround(std::min(value / largest, 1.0) * width * 8));
  std::string bar;
  for (int i = 0; i < eighths / 8; ++i) bar += kFullCell;
  return bar + kEighths[eighths % 8];
}

std::string SampleText(const StationState &station) {
  if (!station.sampled) return "no sample yet";
  std::string text =
      "sampled " + TimeOfDay(station.lastSample, false) + Printf(" (%ld samples)", station.samples);
  if (station.laserFault) text = Coloured(kRed, "laser FAIL") + "  " + text;
  // First, so that a narrow terminal cuts the time of the last sample rather than this.
  return station.stale ? Coloured(kYellow, "values STALE") + "  " + text : text;
}

std::string StationTitle(const StationState &station) {
  return Printf("%sStation %03d%s  %s  ", kBold, station.number, kReset, station.address.c_str()) +
         LinkText(station) + "  " + SampleText(station);
}

std::string AirFlowText(const StationState &station) {
  if (station.stale) return Coloured(kDim, "unknown (stale)");
  return station.airFlow == AirFlowState::kOk     ? Coloured(kGreen, "OK")
         : station.airFlow == AirFlowState::kFail ? Coloured(kRed, "FAIL")
                                                  : Coloured(kDim, "unknown");
}

double Largest(const StationState &station) {
  double largest = 0;
  for (const ChannelReading &c : station.channels) {
    if (c.written && std::isfinite(c.value)) largest = std::max(largest, c.value);
  }
  return largest;
}

// A line per channel with its value and a bar.
void AddStation(const StationState &station, int barWidth, std::vector<std::string> *lines) {
  lines->push_back(StationTitle(station));
  double largest = Largest(station);
  for (const ChannelReading &c : station.channels) {
    std::string value = c.written ? Printf("%12.3f", c.value) : Printf("%12s", "-");
    std::string line =
        Printf("    ch %2d  %s  ", c.channel, value.c_str()) + Bar(c.value, largest, barWidth);
    // A failed station's last values stay in sight, dimmed, until new data arrives.
    lines->push_back(station.stale ? Coloured(kDim, line) : line);
  }
  if (station.hasAirFlowTag) lines->push_back("    air flow  " + AirFlowText(station));
}

// For a small terminal: the channels in one line, as a column each, then their values.
void AddStationCompact(const StationState &station, std::vector<std::string> *lines) {
  lines->push_back(StationTitle(station));
  double largest = Largest(station);
  std::string columns;
  std::string values;
  for (const ChannelReading &c : station.channels) {
    int eighths = !c.written || !(largest > 0) || !(c.value > 0)
                      ? 0
                      : std::clamp(static_cast<int>(std::ceil(c.value / largest * 8)), 1, 8);
    columns += eighths == 0 ? " " : kColumns[eighths - 1];
    values += c.written ? Printf(" %.1f", c.value) : std::string(" -");
  }
  std::string flow = station.hasAirFlowTag ? "  air flow " + AirFlowText(station) : "";
  lines->push_back("    " + columns + flow + " " + values);
}

std::string HeaderLine(const LiveHeader &header) {
  std::string length = header.durationSeconds > 0
                           ? " of " + Duration(std::chrono::seconds(header.durationSeconds))
                           : std::string(", Ctrl-C ends");
  return Printf("%sdevado-host%s  %s  %s, update rate %d s  ", kBold, kReset,
                header.driverName.c_str(), header.initFile.c_str(), header.updateRate) +
         Duration(header.elapsed) + length;
}

int FullHeight(const EventSnapshot &snapshot) {
  int height = 0;
  for (const StationState &station : snapshot.stations) {
    height += 2 + static_cast<int>(station.channels.size()) + (station.hasAirFlowTag ? 1 : 0);
  }
  return height;
}

// At most `columns` visible characters: escape sequences and the continuation bytes of
// UTF-8 characters take no room.
std::string Fitted(const std::string &line, int columns) {
  std::string out;
  int visible = 0;
  bool escape = false;
  for (char c : line) {
    bool takesRoom = !escape && c != '\x1b' && (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    if (takesRoom && ++visible > columns) break;
    escape = c == '\x1b' || (escape && !std::isalpha(static_cast<unsigned char>(c)));
    out += c;
  }
  return out + kReset;
}

void AddLogLines(const EventSnapshot &snapshot, int room, std::vector<std::string> *lines) {
  std::size_t count =
      std::min(snapshot.recentLines.size(),
               static_cast<std::size_t>(std::clamp(room - 1, 0, static_cast<int>(kLiveLogLines))));
  if (count == 0) return;
  lines->push_back(Coloured(kDim,
                            "Driver log and link reports (latest; [32] operational, [0] detail, "
                            "[host] link report, [mqtt] broker; all lines with --log)"));
  for (std::size_t i = snapshot.recentLines.size() - count; i < snapshot.recentLines.size(); ++i) {
    const LogEntry &entry = snapshot.recentLines[i];
    std::string level = entry.linkReport ? "host"
                        : entry.mqtt     ? "mqtt"
                                         : std::to_string(entry.level);
    lines->push_back("  " + TimeOfDay(entry.time) + " [" + level + "] " + entry.text);
  }
}

}  // namespace

std::string RenderLiveView(const LiveHeader &header, const EventSnapshot &snapshot, int rows,
                           int columns) {
  std::vector<std::string> lines = {HeaderLine(header)};
  for (std::size_t i = 0; i < header.notes.size() && i < kMaxNotes; ++i) {
    lines.push_back(Coloured(kYellow, header.notes[i]));
  }
  if (header.notes.size() > kMaxNotes) {
    lines.push_back("... and " + std::to_string(header.notes.size() - kMaxNotes) + " more");
  }
  lines.push_back("");
  // The last row stays free, so that the terminal never scrolls.
  int free = rows - 1 - static_cast<int>(lines.size());
  bool full = FullHeight(snapshot) + kMinLogRows <= free;
  int barWidth = std::clamp(columns - kChannelLabelWidth, kMinBarWidth, kMaxBarWidth);
  for (const StationState &station : snapshot.stations) {
    full ? AddStation(station, barWidth, &lines) : AddStationCompact(station, &lines);
    lines.push_back("");
  }
  AddLogLines(snapshot, rows - 1 - static_cast<int>(lines.size()), &lines);
  std::string screen;
  for (std::size_t i = 0; i < lines.size() && static_cast<int>(i) < rows - 1; ++i) {
    screen += Fitted(lines[i], columns - 1) + "\n";
  }
  return header.colours ? screen : WithoutColours(screen);
}

void DrawInPlace(std::FILE *out, const std::string &screen) {
  std::string frame = "\x1b[H";
  std::size_t start = 0;
  for (std::size_t end = screen.find('\n'); end != std::string::npos;
       start = end + 1, end = screen.find('\n', start)) {
    frame += screen.substr(start, end - start) + "\x1b[K\n";
  }
  frame += "\x1b[J";
  std::fputs(frame.c_str(), out);
  std::fflush(out);
}

void ShowCursor(std::FILE *out, bool visible) {
  std::fputs(visible ? "\x1b[?25h" : "\x1b[?25l", out);
  std::fflush(out);
}
