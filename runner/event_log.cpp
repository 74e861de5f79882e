#include "runner/event_log.h"

#include <algorithm>

#include "runner/driver_log.h"

namespace {

constexpr int kAirFlowSlot = 1 << 20;  // written after every channel of a sample
constexpr std::size_t kKeptLines = 64;
constexpr int kStatusFailed = 1;

std::string WithoutNewline(const std::string &text) {
  return !text.empty() && text.back() == '\n' ? text.substr(0, text.size() - 1) : text;
}

}  // namespace

EventLog::EventLog(const std::vector<ConfiguredStation> &stations, EventSink *sink) : sink_(sink) {
  for (const ConfiguredStation &configured : stations) {
    StationState station;
    station.number = configured.number;
    station.address = configured.address;
    stations_.push_back(station);
  }
}

StationState *EventLog::Find(int station) {
  for (StationState &state : stations_) {
    if (state.number == station) return &state;
  }
  return nullptr;
}

void EventLog::AddGate(int gateId, const std::string &address, int station, int channel) {
  std::lock_guard<std::mutex> lock(mutex_);
  gates_[gateId] = {address, station, channel < 0 ? kAirFlowSlot : channel};
  StationState *state = Find(station);
  if (state == nullptr) return;
  if (channel < 0) {
    state->hasAirFlowTag = true;
    return;
  }
  auto &channels = state->channels;
  auto at = std::find_if(channels.begin(), channels.end(),
                         [channel](const ChannelReading &c) { return c.channel >= channel; });
  if (at == channels.end() || at->channel != channel) channels.insert(at, {channel, false, 0});
}

// The driver writes a sample's gates in channel order and the air flow last, so a write
// that does not come after the station's previous one in that order begins a sample.
void EventLog::CountSample(StationState &station, int slot, WallTime now) {
  auto last = lastSlot_.find(station.number);
  if (last == lastSlot_.end() || slot <= last->second) {
    CloseSample(station, true);  // one whose last gate the driver had nothing for
    ++station.samples;
    station.laserFault = false;  // until this sample's lines say otherwise
    sampleOpen_[station.number] = true;
  }
  station.stale = false;
  lastSlot_[station.number] = slot;
  station.sampled = true;
  station.lastSample = now;
}

void EventLog::Record(StationState &station, const Gate &gate, double value) {
  ++station.writes;
  if (gate.slot == kAirFlowSlot) {
    station.airFlow = value != 0 ? AirFlowState::kOk : AirFlowState::kFail;
    return;
  }
  for (ChannelReading &reading : station.channels) {
    if (reading.channel != gate.slot) continue;
    reading.written = true;
    reading.value = value;
  }
}

void EventLog::AddStationSink(StationSink *sink) {
  std::lock_guard<std::mutex> lock(mutex_);
  stationSinks_.push_back(sink);
}

void EventLog::ClearStationSinks() {
  std::lock_guard<std::mutex> lock(mutex_);
  stationSinks_.clear();
}

void EventLog::TellLinkChanged(const StationState &station) {
  for (StationSink *sink : stationSinks_) sink->LinkChanged(station);
}

void EventLog::FlushSamples() {
  std::lock_guard<std::mutex> lock(mutex_);
  CloseAwaiting(std::chrono::steady_clock::time_point::max());
  // A sample cut short by driver end is written as far as it came, but not counted whole.
  for (StationState &station : stations_) CloseSample(station, false);
}

// A sample is whole once its last gate is written, or when the next one begins. Its time
// is that of its gate writes, not of the moment it is found whole.
void EventLog::CloseSample(StationState &station, bool whole) {
  awaitingLaser_.erase(station.number);
  bool &open = sampleOpen_[station.number];
  if (!open) return;
  open = false;
  if (whole) ++station.completed;
  for (StationSink *sink : stationSinks_) sink->Sample(station.lastSample, station);
}

// The slot that a sample's gate writes end with: the air flow, else the highest channel.
int EventLog::LastSlot(const StationState &station) const {
  if (station.hasAirFlowTag) return kAirFlowSlot;
  return station.channels.empty() ? -1 : station.channels.back().channel;
}

// The driver writes a sample's channels, then logs its laser line (when the laser failed),
// then writes the air flow, all on one thread. A station with an air-flow tag has its
// laser line before its last gate; one without has it after, so its sample waits for the
// line, or for the driver's next gate write, which comes after the line would have.
void EventLog::CloseAwaiting(std::chrono::steady_clock::time_point before) {
  for (auto it = awaitingLaser_.begin(); it != awaitingLaser_.end();) {
    StationState *station = it->second < before ? Find(it->first) : nullptr;
    ++it;
    if (station != nullptr) CloseSample(*station, true);
  }
}

void EventLog::Tick() {
  std::lock_guard<std::mutex> lock(mutex_);
  CloseAwaiting(std::chrono::steady_clock::now() - std::chrono::milliseconds(20));
}

void EventLog::OnGateWrite(int gateId, double value) {
  WallTime now = std::chrono::system_clock::now();
  std::lock_guard<std::mutex> lock(mutex_);
  auto gate = gates_.find(gateId);
  if (gate == gates_.end()) return;
  if (!awaitingLaser_.empty()) CloseAwaiting(std::chrono::steady_clock::time_point::max());
  StationState *station = Find(gate->second.station);
  if (station != nullptr) {
    CountSample(*station, gate->second.slot, now);
    Record(*station, gate->second, value);
    if (gate->second.slot == LastSlot(*station)) {
      if (station->hasAirFlowTag) {
        CloseSample(*station, true);
      } else {
        awaitingLaser_[station->number] = std::chrono::steady_clock::now();
      }
    }
  }
  if (sink_ != nullptr) sink_->Gate(now, gate->second.address, value);
}

void EventLog::OnLinkStatus(int station, int status) {
  WallTime now = std::chrono::system_clock::now();
  std::lock_guard<std::mutex> lock(mutex_);
  bool failed = status == kStatusFailed;
  Keep({now, status,
        "link status of station " + std::to_string(station) + ": " +
            (failed ? "failed" : "restored"),
        true});
  std::string cause;
  if (failed) {
    auto found = linkCauses_.find(station);
    cause = found != linkCauses_.end() ? found->second : "reported failed by the driver";
    if (found != linkCauses_.end()) linkCauses_.erase(found);
  }
  StationState *state = Find(station);
  if (state != nullptr) {
    state->link = failed ? LinkState::kFailed : LinkState::kRestored;
    state->linkSince = now;
    state->cause = cause;
    if (failed) state->stale = state->sampled;
    ++(failed ? state->failures : state->recoveries);
    TellLinkChanged(*state);
  }
  if (sink_ != nullptr) sink_->Link(now, station, status, cause);
}

// The causes that the driver's detail lines give come just before the failure they
// explain; a laser fault belongs to the sample being written.
bool EventLog::TakeCause(const LineFacts &facts) {
  if (facts.kind == LineKind::kConnectCause) {
    connectCauses_[facts.address] = facts.reason;
    return true;
  }
  if (facts.kind == LineKind::kLinkCause) {
    linkCauses_[facts.station] = facts.reason;
    return true;
  }
  if (facts.kind != LineKind::kLaserFault) return facts.kind == LineKind::kFlowFault;
  StationState *state = Find(facts.station);
  if (state != nullptr) state->laserFault = true;
  if (state != nullptr && awaitingLaser_.count(state->number) != 0) CloseSample(*state, true);
  return true;
}

bool EventLog::TakeFacts(const std::string &text, WallTime now) {
  LineFacts facts = RecognizeLine(text);
  if (TakeCause(facts)) return true;
  bool coldStart =
      facts.kind == LineKind::kStationConnected || facts.kind == LineKind::kStationNotConnected;
  if (!coldStart && facts.kind != LineKind::kStationReconnected) {
    return facts.kind != LineKind::kChannelValue && facts.kind != LineKind::kArming;
  }
  StationState *state = Find(facts.station);
  if (coldStart) {
    ++connectResults_;
    bool connected = facts.kind == LineKind::kStationConnected;
    std::string cause;
    if (!connected && state != nullptr) cause = connectCauses_[state->address];
    if (sink_ != nullptr) sink_->Connect(now, facts.station, connected, cause);
    if (state == nullptr) return true;
    state->link = connected ? LinkState::kConnected : LinkState::kNotConnected;
    state->linkSince = now;
    state->cause = cause;
    TellLinkChanged(*state);
  } else if (state != nullptr && state->link == LinkState::kNotConnected) {
    // A failed link becomes "restored" only when the driver reports it so.
    state->link = LinkState::kConnected;
    state->linkSince = now;
    state->cause.clear();
    TellLinkChanged(*state);
  }
  return true;
}

void EventLog::OnLogLine(int level, const std::string &text) {
  WallTime now = std::chrono::system_clock::now();
  std::string line = WithoutNewline(text);
  std::lock_guard<std::mutex> lock(mutex_);
  if (capturing_ && std::this_thread::get_id() == captureThread_) captured_.push_back(line);
  if (TakeFacts(line, now)) Keep({now, level, line, false});
}

void EventLog::OnMqttNotice(WallTime time, const std::string &text) {
  std::lock_guard<std::mutex> lock(mutex_);
  LogEntry entry{time, 0, text, false};
  entry.mqtt = true;
  Keep(entry);
}

void EventLog::Keep(const LogEntry &entry) {
  lines_.push_back(entry);
  if (lines_.size() > kKeptLines) lines_.pop_front();
}

void EventLog::BeginCapture() {
  std::lock_guard<std::mutex> lock(mutex_);
  capturing_ = true;
  captureThread_ = std::this_thread::get_id();
  captured_.clear();
}

std::vector<std::string> EventLog::EndCapture() {
  std::lock_guard<std::mutex> lock(mutex_);
  capturing_ = false;
  return std::move(captured_);
}

EventSnapshot EventLog::Snapshot(std::size_t recentLines, bool withDetail) const {
  std::lock_guard<std::mutex> lock(mutex_);
  EventSnapshot snapshot;
  snapshot.stations = stations_;
  for (auto line = lines_.rbegin(); line != lines_.rend(); ++line) {
    if (snapshot.recentLines.size() >= recentLines) break;
    if (withDetail || line->linkReport || line->mqtt || line->level != 0) {
      snapshot.recentLines.push_back(*line);
    }
  }
  std::reverse(snapshot.recentLines.begin(), snapshot.recentLines.end());
  snapshot.connectResults = connectResults_;
  return snapshot;
}
