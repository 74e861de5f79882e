// Publishes what the driver writes for a plant-wide view: every whole sample of a station
// and every change of its link, through a bounded outbox, to an MQTT broker. It is fed
// on the driver's threads and never waits for the broker there.
#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <string>

#include "runner/event_log.h"
#include "runner/mqtt/broker_session.h"
#include "runner/mqtt/outbox.h"
#include "runner/mqtt/plant_messages.h"
#include "runner/options.h"

struct PublishSummary {
  std::string broker;  // host:port
  long published = 0;  // samples the broker acknowledged
  long dropped = 0;    // samples the full queue let go (or the client refused outright)
  long unsent = 0;     // samples still waiting at the end, in memory: lost
  long stored = 0;     // samples kept in the store for the next run
  long refused = 0;    // samples the broker refused (not authorised for the topic, say)
  int connections = 0;
};

class PlantPublisher : public StationSink {
 public:
  using Notice = BrokerSession::Notice;

  PlantPublisher(const MqttSettings &settings, int instance, Notice notice);

  // False, with the reason, when the settings cannot be used (or this build cannot publish).
  bool Start(std::string *error);
  // True once the broker refused the log-in: the run must end.
  bool Refused(std::string *why) const;

  void Sample(WallTime time, const StationState &station) override;
  void LinkChanged(const StationState &station) override;

  // Publishes what waits for up to `drain`, says offline and disconnects.
  PublishSummary Finish(std::chrono::milliseconds drain);

  const std::string &Prefix() const { return prefix_; }

 private:
  void Greet();

  MqttSettings settings_;
  std::string prefix_;
  PlantTopics topics_;
  Outbox outbox_;
  std::mutex mutex_;
  std::map<int, long> sequences_;    // by station: its samples so far
  std::map<int, OutMessage> links_;  // by station: its current link message
  BrokerSession session_;            // last: its thread ends before the rest goes
};
