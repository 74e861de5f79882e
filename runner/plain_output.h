// The runner's line output: human-readable lines, or the same as JSON lines (one object
// per line, each with an "event" member) for other programs to read.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "runner/event_log.h"
#include "runner/installation_check.h"
#include "runner/line_writer.h"
#include "runner/mqtt/plant_publisher.h"
#include "runner/tag_list.h"

struct TagOutcome {
  TagEntry tag;
  int gateId = 0;
  bool accepted = false;
  std::string reason;  // why the driver refused it
  std::string note;    // for an accepted tag whose gate the driver will not write
};

class PlainOutput : public EventSink {
 public:
  PlainOutput(std::FILE *out, bool json) : json_(json), writer_(out) {}
  // Plain lines for --once and --samples: what is wrong, then a line per station.
  void SetBrief(bool brief) { brief_ = brief; }

  void DriverInfo(const std::string &name, const std::string &banner, int blockSize);
  void ColdStart(int result, int stations, const std::string &initFile, int updateRate);
  void Tags(const std::vector<TagOutcome> &outcomes);
  // What the offline check found; with `all`, the lines that are fine too.
  void Findings(const std::vector<Finding> &findings, bool all);
  void Running(int durationSeconds);
  void Summary(double seconds, int endResult, const std::vector<StationState> &stations);
  // What the MQTT broker session reported: connected, lost, samples dropped.
  void Mqtt(WallTime time, const std::string &text);
  // The publishing's counts, after the summary.
  void Publishing(const PublishSummary &summary, const std::string &prefix);
  // One line per station after --once or --samples: its state, the cause, its values.
  void StationLines(const std::vector<StationState> &stations, int samplesWanted);

  // A line of the caller's own, in its place among the others.
  void Text(const std::string &text) { Line(text); }
  // Every line so far written out, for up to a second: before the live view draws.
  void Flush() { writer_.Flush(std::chrono::seconds(1)); }

  void Gate(WallTime time, const std::string &address, double value) override;
  void Link(WallTime time, int station, int status, const std::string &cause) override;
  void Connect(WallTime time, int station, bool connected, const std::string &cause) override;

 private:
  void Line(const std::string &text);
  void TagLine(const TagOutcome &outcome);

  bool json_;
  bool brief_ = false;
  LineWriter writer_;  // last: it writes what waits before the rest goes
};
