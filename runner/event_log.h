// What the driver did during the run, as the runner learns it from the runtime: gate
// writes, link status reports and log lines, turned into the state of each station and
// the counters of the summary. The runtime calls in on the driver's threads; the
// runner's main thread reads snapshots.
#pragma once

#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "runner/clock_text.h"
#include "runner/driver_log.h"
#include "runner/init_file_view.h"

enum class LinkState {
  kWaiting,       // cold start has not connected it yet
  kConnected,     // connected by cold start, or by the re-open thread before any failure
  kNotConnected,  // cold start could not connect it
  kFailed,        // the driver reported the link failed
  kRestored,      // the driver reported the link restored
};

enum class AirFlowState { kUnknown, kOk, kFail };

struct ChannelReading {
  int channel = 0;
  bool written = false;
  double value = 0;
};

struct StationState {
  int number = 0;
  std::string address;
  LinkState link = LinkState::kWaiting;
  WallTime linkSince{};
  bool sampled = false;
  WallTime lastSample{};
  long samples = 0;    // begun: counted at a sample's first gate write
  long completed = 0;  // whole: counted once the sample's last gate is written
  long writes = 0;
  long failures = 0;
  long recoveries = 0;
  std::vector<ChannelReading> channels;  // by channel
  bool hasAirFlowTag = false;
  AirFlowState airFlow = AirFlowState::kUnknown;
  std::string cause;        // why it is failed or not connected, as the driver said
  bool stale = false;       // the values are from before a failure; no new sample since
  bool laserFault = false;  // the latest sample reported the laser failed
};

struct LogEntry {
  WallTime time;
  int level = 0;
  std::string text;
  bool linkReport = false;  // not a log line: a link status report to the host
  bool mqtt = false;        // not a log line: what the MQTT broker session reported
};

struct EventSnapshot {
  std::vector<StationState> stations;
  // Oldest first: the driver's log lines but those repeated per channel or per tag, and
  // the link status reports.
  std::vector<LogEntry> recentLines;
  int connectResults = 0;  // stations that cold start connected or gave up
};

// Receives each event as it happens, on the thread that caused it, one at a time.
class EventSink {
 public:
  virtual ~EventSink() = default;
  virtual void Gate(WallTime time, const std::string &address, double value) = 0;
  // `cause`: why a link failed or a station could not be connected; may be empty.
  virtual void Link(WallTime time, int station, int status, const std::string &cause) = 0;
  virtual void Connect(WallTime time, int station, bool connected, const std::string &cause) = 0;
};

// Receives each whole sample of a station: its state just after the sample's last gate
// write (or, when the station sent no whole sample, when its next sample begins); and,
// for those who want it, the station's state after each change of its link. Called on
// the thread that caused the event, one call at a time, with the event log locked.
class StationSink {
 public:
  virtual ~StationSink() = default;
  virtual void Sample(WallTime time, const StationState &station) = 0;
  virtual void LinkChanged(const StationState & /*station*/) {}
};

class EventLog {
 public:
  EventLog(const std::vector<ConfiguredStation> &stations, EventSink *sink);

  // The sinks are called in the order they were added. Clear them before any goes.
  void AddStationSink(StationSink *sink);
  void ClearStationSinks();
  // Hands the samples still open to the station sinks (at the end of a run).
  void FlushSamples();
  // Hands on the samples whose laser line did not come (called every few tens of ms).
  void Tick();

  // A tag that the driver accepted: a channel gate, or the air-flow gate (channel -1).
  void AddGate(int gateId, const std::string &address, int station, int channel);

  void OnGateWrite(int gateId, double value);
  void OnLinkStatus(int station, int status);
  void OnLogLine(int level, const std::string &text);
  // What the MQTT broker session reports, kept among the recent lines.
  void OnMqttNotice(WallTime time, const std::string &text);

  // Collects the lines that the calling thread logs until EndCapture.
  void BeginCapture();
  std::vector<std::string> EndCapture();

  // The newest `recentLines` lines; detail lines (level 0) only with `withDetail`.
  EventSnapshot Snapshot(std::size_t recentLines, bool withDetail = true) const;

 private:
  struct Gate {
    std::string address;
    int station;
    int slot;  // the channel, or kAirFlowSlot: the order in which a sample is written
  };

  StationState *Find(int station);
  void CountSample(StationState &station, int slot, WallTime now);
  void CloseSample(StationState &station, bool whole);
  void CloseAwaiting(std::chrono::steady_clock::time_point before);
  int LastSlot(const StationState &station) const;
  void Record(StationState &station, const Gate &gate, double value);
  // False for a line not worth showing among the recent ones.
  bool TakeFacts(const std::string &text, WallTime now);
  // True when the line gave a cause or a device fault.
  bool TakeCause(const LineFacts &facts);
  void Keep(const LogEntry &entry);
  void TellLinkChanged(const StationState &station);

  mutable std::mutex mutex_;
  EventSink *sink_;
  std::vector<StationSink *> stationSinks_;
  std::map<int, bool> sampleOpen_;  // per station: a sample begun and not yet handed on
  // Per station without an air-flow tag: its sample's last gate is written, and it is
  // handed on once the driver's laser line for it came, or the driver went on.
  std::map<int, std::chrono::steady_clock::time_point> awaitingLaser_;
  std::vector<StationState> stations_;
  std::map<int, Gate> gates_;
  std::map<int, int> lastSlot_;            // per station: the slot of its latest gate write
  std::map<int, std::string> linkCauses_;  // by station, until its failure comes
  std::map<std::string, std::string> connectCauses_;  // by address, until the station's line
  std::deque<LogEntry> lines_;
  int connectResults_ = 0;
  bool capturing_ = false;
  std::thread::id captureThread_;
  std::vector<std::string> captured_;
};
