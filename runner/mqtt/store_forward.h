// Store and forward, on the broker session's thread: every sample taken from the outbox
// is written to the store (in batches, within kWriteDelay) before it is published, and
// deleted once the broker acknowledged it. Samples written while the broker is there go
// out as live ones; those written while it was away, or left by an earlier run, are the
// backlog, replayed oldest first at a bounded rate beside the live samples and marked
// historical. When the store fails (a full disk, say), samples are kept in memory,
// bounded, and published as live, and the store is tried again now and then.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <unordered_set>
#include <vector>

#include "runner/mqtt/plant_messages.h"
#include "runner/mqtt/sample_store.h"

class StoreForward {
 public:
  using Clock = std::chrono::steady_clock;
  using Tell = std::function<void(const std::string &text)>;

  // A sample to publish: its id in the store (0: held in memory only).
  struct Outgoing {
    std::int64_t id = 0;
    OutMessage message;
  };

  StoreForward(SampleStore *store, std::size_t memoryCapacity, Tell tell);

  void Keep(std::vector<OutMessage> samples, Clock::time_point now);
  // Writes the kept samples and deletes the acknowledged ones once that is due, or now
  // with `force`.
  void Write(Clock::time_point now, bool force);
  // Up to `most` samples to publish: the live ones, then the backlog within its rate.
  std::vector<Outgoing> Next(std::size_t most, Clock::time_point now);
  // Samples that could not be handed on go back to the front.
  void PutBack(std::vector<Outgoing> samples);
  void Acknowledged(std::int64_t id);
  void Connected(Clock::time_point now);
  // What waited to go out live is the backlog now, for the next connection.
  void Disconnected();

  // Milliseconds until Write or the replay wants the thread, at most `longest`.
  int TimeoutMs(Clock::time_point now, int longest) const;
  // Nothing live, no backlog known, nothing to write.
  bool Idle() const;
  long Dropped() const { return dropped_; }  // by the store's bound or the memory's
  long InMemory() const;                     // samples kept in memory only (the store failed)

  // A replayed sample says so: {"historical":true,...}.
  static std::string Historical(const std::string &payload);

  static constexpr auto kWriteDelay = std::chrono::milliseconds(50);
  static constexpr std::size_t kWriteBatch = 512;
  static constexpr long kReplayPerSecond = 4000;
  static constexpr auto kRetryFailedStore = std::chrono::seconds(10);

 private:
  bool WriteDue(Clock::time_point now) const;
  void Written(std::vector<StoredSample> &samples);
  void StoreFailed(const std::string &why, std::vector<StoredSample> &samples,
                   Clock::time_point now);
  void KeepInMemory(Outgoing sample);
  void Replay(std::size_t most, Clock::time_point now, std::vector<Outgoing> *out);

  SampleStore *store_;
  std::size_t memoryCapacity_;
  Tell tell_;
  bool connected_ = false;

  std::vector<StoredSample> unwritten_;
  Clock::time_point firstUnwritten_{};
  std::vector<std::int64_t> acknowledged_;
  Clock::time_point firstAcknowledged_{};
  std::deque<Outgoing> live_;
  // Ids handed to the broker or waiting as live, until their deletion is written: the
  // replay passes over them.
  std::unordered_set<std::int64_t> owned_;
  std::int64_t replayedUpTo_ = 0;
  bool backlog_ = true;  // the store may hold samples that the replay has not reached
  double tokens_ = 0;
  Clock::time_point tokensAt_{};

  bool failing_ = false;
  Clock::time_point retryAt_{};
  long dropped_ = 0;
};
