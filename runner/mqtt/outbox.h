// What waits to be published: the samples in the order they came, bounded so that a
// broker that stays away cannot take the runner's memory (the oldest go first and are
// counted), and the newest message of each state (a station's link, the runner's status),
// which replaces an older one of the same state that was not yet sent. The driver's
// threads put, the broker session takes.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include "runner/mqtt/plant_messages.h"

class Outbox {
 public:
  explicit Outbox(std::size_t sampleCapacity);

  // Called after each put, outside the lock: wakes the taker.
  void SetWake(std::function<void()> wake);

  void PutSample(OutMessage message);
  // `state`: a station's number for its link, or kStatusState.
  void PutState(int state, OutMessage message);
  // Messages that were taken but could not be handed on go back to the front.
  void PutBack(std::vector<OutMessage> messages);

  static constexpr int kStatusState = -1;

  // Up to `most` messages: the states first (the status before the links), then the
  // oldest samples.
  std::vector<OutMessage> Take(std::size_t most);
  // With a store: every sample waiting, and up to `most` states (as Take orders them).
  std::vector<OutMessage> TakeSamples();
  std::vector<OutMessage> TakeStates(std::size_t most);

  bool Empty() const;
  std::size_t Samples() const;  // samples waiting
  long Dropped() const;         // samples dropped since the start

 private:
  void Wake();
  // What was given back, then the states, up to `most` in all; the lock is held.
  void TakeStatesLocked(std::size_t most, std::vector<OutMessage> *taken);

  mutable std::mutex mutex_;
  std::size_t capacity_;
  std::deque<OutMessage> samples_;
  std::map<int, OutMessage> states_;  // by state
  std::deque<OutMessage> returned_;   // taken and given back, before anything else
  long dropped_ = 0;
  std::function<void()> wake_;
};
