#include "runner/mqtt/plant_messages.h"

#include <cstdio>
#include <utility>

#include "runner/json_text.h"

PlantTopics::PlantTopics(std::string prefix, int instance)
    : base_(std::move(prefix) + "/" + std::to_string(instance)) {}

std::string PlantTopics::Station(int station) const {
  char number[16];
  std::snprintf(number, sizeof number, "%03d", station);
  return base_ + "/station/" + number;
}

std::string PlantTopics::Sample(int station) const {
  return Station(station) + "/sample";
}
std::string PlantTopics::Link(int station) const {
  return Station(station) + "/link";
}
std::string PlantTopics::Status() const {
  return base_ + "/status";
}
std::string PlantTopics::All() const {
  return base_ + "/#";
}

// '+', '#' and '/' would make the host name a wildcard or more than one level.
std::string DefaultPrefix(const std::string &hostName) {
  std::string name = hostName.empty() ? "unknown-host" : hostName;
  for (char &c : name) {
    if (c == '+' || c == '#' || c == '/') c = '_';
  }
  return "devado/" + name;
}

namespace {

const char *LinkWord(LinkState link) {
  switch (link) {
    case LinkState::kWaiting:
      return "waiting";
    case LinkState::kConnected:
      return "connected";
    case LinkState::kNotConnected:
      return "not_connected";
    case LinkState::kFailed:
      return "failed";
    case LinkState::kRestored:
      return "restored";
  }
  return "waiting";
}

std::string AirFlowValue(const StationState &station) {
  if (!station.hasAirFlowTag || station.airFlow == AirFlowState::kUnknown) return "null";
  return station.airFlow == AirFlowState::kOk ? "\"ok\"" : "\"fail\"";
}

std::string Values(const StationState &station) {
  int highest = station.channels.empty() ? -1 : station.channels.back().channel;
  std::string values = "[";
  for (int channel = 0; channel <= highest; ++channel) {
    std::string value = "null";
    for (const ChannelReading &reading : station.channels) {
      if (reading.channel == channel && reading.written) value = JsonNumber(reading.value);
    }
    values += (channel > 0 ? "," : "") + value;
  }
  return values + "]";
}

}  // namespace

std::string SamplePayload(WallTime time, const StationState &station, long sequence) {
  return "{\"time\":" + JsonString(IsoTime(time)) +
         ",\"station\":" + std::to_string(station.number) +
         ",\"address\":" + JsonString(station.address) +
         ",\"sequence\":" + std::to_string(sequence) + ",\"values\":" + Values(station) +
         ",\"airFlow\":" + AirFlowValue(station) +
         ",\"laserFault\":" + (station.laserFault ? "true" : "false") + "}";
}

std::string LinkPayload(const StationState &station) {
  bool failure = station.link == LinkState::kFailed || station.link == LinkState::kNotConnected;
  return "{\"station\":" + std::to_string(station.number) +
         ",\"address\":" + JsonString(station.address) + ",\"state\":\"" + LinkWord(station.link) +
         "\",\"since\":" + JsonString(IsoTime(station.linkSince)) +
         (failure ? ",\"cause\":" + JsonString(station.cause) : "") + "}";
}
