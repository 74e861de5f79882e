// The Windows build publishes nothing: the MQTT client library is the Linux
// distribution's, and a plant gateway runs on Linux.
#include "runner/mqtt/broker_session.h"

struct BrokerSession::Impl {};

BrokerSession::BrokerSession(const MqttSettings &, std::string, std::string, Outbox *, Notice,
                             Greeting) {}

BrokerSession::~BrokerSession() = default;

bool BrokerSession::Supported() {
  return false;
}

std::string BrokerSession::HostName() {
  return std::string();
}

bool BrokerSession::Start(std::string *error) {
  *error = kNoMqttSupport;
  return false;
}

std::map<int, long> BrokerSession::StoredSequences() const {
  return {};
}

bool BrokerSession::Refused(std::string *) const {
  return false;
}

SessionReport BrokerSession::Finish(std::chrono::milliseconds) {
  return {};
}
