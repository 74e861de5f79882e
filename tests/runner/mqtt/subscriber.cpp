#include "tests/runner/mqtt/subscriber.h"

#include "tests/runner/mqtt/processes.h"

namespace testing_support {

Subscriber::Subscriber(const std::string &clientId, bool persistent) {
  mosquitto_lib_init();
  client_ = mosquitto_new(clientId.c_str(), !persistent, this);
  mosquitto_connect_callback_set(client_, &Subscriber::OnConnect);
  mosquitto_subscribe_callback_set(client_, &Subscriber::OnSubscribe);
  mosquitto_message_callback_set(client_, &Subscriber::OnMessage);
  mosquitto_reconnect_delay_set(client_, 1, 1, false);
}

Subscriber::~Subscriber() {
  mosquitto_disconnect(client_);
  mosquitto_loop_stop(client_, true);
  mosquitto_destroy(client_);
  mosquitto_lib_cleanup();
}

bool Subscriber::Subscribe(const std::string &host, int port, const std::string &filter) {
  filter_ = filter;
  if (mosquitto_connect(client_, host.c_str(), port, 30) != MOSQ_ERR_SUCCESS) return false;
  if (mosquitto_loop_start(client_) != MOSQ_ERR_SUCCESS) return false;
  return WaitUntil(
      [this] {
        std::lock_guard<std::mutex> lock(mutex_);
        return subscribed_;
      },
      std::chrono::seconds(10));
}

// Again on every reconnection: a broker that restarted without keeping sessions has
// forgotten the subscription.
void Subscriber::OnConnect(mosquitto *client, void *self, int rc) {
  auto *subscriber = static_cast<Subscriber *>(self);
  if (rc == 0) mosquitto_subscribe(client, nullptr, subscriber->filter_.c_str(), 1);
}

void Subscriber::OnSubscribe(mosquitto *, void *self, int, int, const int *) {
  auto *subscriber = static_cast<Subscriber *>(self);
  std::lock_guard<std::mutex> lock(subscriber->mutex_);
  subscriber->subscribed_ = true;
}

void Subscriber::OnMessage(mosquitto *, void *self, const mosquitto_message *message) {
  auto *subscriber = static_cast<Subscriber *>(self);
  Received received;
  received.topic = message->topic;
  received.payload.assign(static_cast<const char *>(message->payload),
                          static_cast<std::size_t>(message->payloadlen));
  received.retained = message->retain;
  received.at = std::chrono::system_clock::now();
  std::lock_guard<std::mutex> lock(subscriber->mutex_);
  subscriber->messages_.push_back(received);
}

std::vector<Received> Subscriber::Messages() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return messages_;
}

std::size_t Subscriber::Count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return messages_.size();
}

std::vector<Received> Subscriber::Since(std::size_t first) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (first >= messages_.size()) return {};
  return std::vector<Received>(messages_.begin() + static_cast<long>(first), messages_.end());
}

std::vector<Received> Subscriber::On(const std::string &topic) const {
  std::vector<Received> found;
  for (const Received &m : Messages()) {
    if (m.topic == topic) found.push_back(m);
  }
  return found;
}

std::string Subscriber::Latest(const std::string &topic) const {
  std::vector<Received> found = On(topic);
  return found.empty() ? std::string() : found.back().payload;
}

}  // namespace testing_support
