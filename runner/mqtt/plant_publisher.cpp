#include "runner/mqtt/plant_publisher.h"

#include <utility>

namespace {

std::string PrefixOf(const MqttSettings &settings) {
  return settings.prefix.empty() ? DefaultPrefix(BrokerSession::HostName()) : settings.prefix;
}

std::string ClientIdOf(const MqttSettings &settings, int instance) {
  if (!settings.clientId.empty()) return settings.clientId;
  std::string host = BrokerSession::HostName();
  return "devado-" + (host.empty() ? std::string("host") : host) + "-" + std::to_string(instance);
}

}  // namespace

PlantPublisher::PlantPublisher(const MqttSettings &settings, int instance, Notice notice)
    : settings_(settings),
      prefix_(PrefixOf(settings)),
      topics_(prefix_, instance),
      outbox_(static_cast<std::size_t>(settings.queue)),
      session_(settings, ClientIdOf(settings, instance), topics_.Status(), &outbox_,
               std::move(notice), [this] { Greet(); }) {}

// With a store, each station's numbering goes on from the last sample it kept.
bool PlantPublisher::Start(std::string *error) {
  if (!session_.Start(error)) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  sequences_ = session_.StoredSequences();
  return true;
}

bool PlantPublisher::Refused(std::string *why) const {
  return session_.Refused(why);
}

void PlantPublisher::Sample(WallTime time, const StationState &station) {
  long sequence = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    sequence = ++sequences_[station.number];
  }
  outbox_.PutSample({topics_.Sample(station.number), SamplePayload(time, station, sequence), false,
                     true, station.number, sequence});
}

void PlantPublisher::LinkChanged(const StationState &station) {
  OutMessage message{topics_.Link(station.number), LinkPayload(station), true, false};
  {
    std::lock_guard<std::mutex> lock(mutex_);
    links_[station.number] = message;
  }
  outbox_.PutState(station.number, std::move(message));
}

// A broker that restarted without keeping its retained messages learns the runner's
// status and every link's state again.
void PlantPublisher::Greet() {
  outbox_.PutState(Outbox::kStatusState, {topics_.Status(), kStatusOnline, true, false});
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto &link : links_) outbox_.PutState(link.first, link.second);
}

PublishSummary PlantPublisher::Finish(std::chrono::milliseconds drain) {
  SessionReport report = session_.Finish(drain);
  PublishSummary summary;
  summary.broker = settings_.BrokerText();
  summary.published = report.published;
  summary.dropped = outbox_.Dropped() + report.rejected;
  summary.unsent = report.unsent;
  summary.stored = report.stored;
  summary.refused = report.refused;
  summary.connections = report.connections;
  return summary;
}
