// The messages that devado-host publishes for a plant-wide view: their topics and their
// JSON payloads. (docs/mqtt.md shows each with an example.)
#pragma once

#include <string>

#include "runner/event_log.h"

// One message as it goes to the broker.
struct OutMessage {
  std::string topic;
  std::string payload;
  bool retain = false;
  bool sample = false;  // counted among the samples published, dropped or left unsent
  int station = 0;      // a sample's station and sequence number, for the store
  long sequence = 0;
};

// The topic tree of one driver instance: <prefix>/<instance>/...
class PlantTopics {
 public:
  PlantTopics(std::string prefix, int instance);
  std::string Sample(int station) const;  // .../station/<sss>/sample
  std::string Link(int station) const;    // .../station/<sss>/link
  std::string Status() const;             // .../status
  std::string All() const;                // .../# , for subscribers

 private:
  std::string Station(int station) const;
  std::string base_;
};

// The status payloads: online while the runner runs, offline once it ended or died.
inline constexpr char kStatusOnline[] = "online";
inline constexpr char kStatusOffline[] = "offline";

// "devado/<host name>", the host name's characters that MQTT gives a meaning replaced.
std::string DefaultPrefix(const std::string &hostName);

// A sample as the driver wrote it to the gates: its time, the station and its address,
// a sequence number counting the station's samples from 1, the values by channel from
// channel 0 (null for a channel without a tag or a value), the air flow and the laser.
std::string SamplePayload(WallTime time, const StationState &station, long sequence);

// The link's state (connected, not_connected, failed, restored), since when, and why for
// the two that are failures.
std::string LinkPayload(const StationState &station);
