// A subscriber as a plant's historian or dashboard would be: it takes every message under
// a topic filter at QoS 1 and keeps them, with their retain flags, in the order they came.
#pragma once

#include <mosquitto.h>

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

namespace testing_support {

struct Received {
  std::string topic;
  std::string payload;
  bool retained = false;
  std::chrono::system_clock::time_point at;
};

class Subscriber {
 public:
  // `persistent`: a session that the broker keeps while the subscriber is away, so that
  // nothing published meanwhile is lost for it (a historian's setting).
  Subscriber(const std::string &clientId, bool persistent = false);
  ~Subscriber();
  Subscriber(const Subscriber &) = delete;
  Subscriber &operator=(const Subscriber &) = delete;

  // Connects (and reconnects by itself) and subscribes to `filter`; true once subscribed.
  bool Subscribe(const std::string &host, int port, const std::string &filter);

  std::vector<Received> Messages() const;
  std::size_t Count() const;
  // The messages from the `first`th on: a reader of a long stream takes only what is new.
  std::vector<Received> Since(std::size_t first) const;
  std::vector<Received> On(const std::string &topic) const;
  // The newest payload on `topic`, or empty.
  std::string Latest(const std::string &topic) const;

 private:
  static void OnConnect(mosquitto *, void *self, int rc);
  static void OnSubscribe(mosquitto *, void *self, int mid, int count, const int *granted);
  static void OnMessage(mosquitto *, void *self, const mosquitto_message *message);

  mosquitto *client_ = nullptr;
  std::string filter_;
  mutable std::mutex mutex_;
  bool subscribed_ = false;
  std::vector<Received> messages_;
};

}  // namespace testing_support
