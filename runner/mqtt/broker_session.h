// The connection to the MQTT broker. One thread owns the client and its socket: it
// connects, reconnects after a pause that grows to a cap, hands the outbox's messages to
// the broker while it is there (at QoS 1, a bounded number waiting for their
// acknowledgement) and, at the end, publishes what is left for as long as it is given,
// says offline and disconnects. A broker that refuses the log-in at the first connection is
// not tried again; one that refuses it after it had accepted it is tried again.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "runner/clock_text.h"
#include "runner/mqtt/outbox.h"
#include "runner/options.h"

// What a build without MQTT says when asked to publish.
inline constexpr char kNoMqttSupport[] =
    "this build of devado-host has no MQTT support (the Linux build has it)";

struct SessionReport {
  long published = 0;   // samples the broker acknowledged
  long unsent = 0;      // samples still waiting at the end, in memory
  long stored = 0;      // samples left in the store, for the next run
  long rejected = 0;    // samples the client refused outright, or the store's bound let go
  long refused = 0;     // samples the broker acknowledged as refused (MQTT 5 reason codes)
  int connections = 0;  // times the broker accepted the connection
};

class BrokerSession {
 public:
  // How the session reports what happens to its connection, on its own thread.
  using Notice = std::function<void(WallTime time, const std::string &text)>;

  // Called on the session's thread each time the broker accepts the connection, before
  // anything waiting is handed on: puts what a broker must hear first after a restart.
  using Greeting = std::function<void()>;

  BrokerSession(const MqttSettings &settings, std::string clientId, std::string statusTopic,
                Outbox *outbox, Notice notice, Greeting greeting);
  ~BrokerSession();
  BrokerSession(const BrokerSession &) = delete;
  BrokerSession &operator=(const BrokerSession &) = delete;

  // Whether this build can publish at all.
  static bool Supported();
  // This machine's name, for the default prefix and client id.
  static std::string HostName();

  // Reads the password file, sets the client up and starts the thread; the connection
  // itself is made on the thread. False, with the reason, when the settings cannot be used.
  bool Start(std::string *error);

  // With a store: each station's last sequence number in it, from this run or earlier.
  std::map<int, long> StoredSequences() const;

  // True once the broker refused the log-in; `why` names the broker and the reason.
  bool Refused(std::string *why) const;

  // Publishes what waits for up to `drain` (when connected), says offline, disconnects
  // and ends the thread.
  SessionReport Finish(std::chrono::milliseconds drain);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
