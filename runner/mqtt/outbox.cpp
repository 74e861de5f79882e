#include "runner/mqtt/outbox.h"

#include <utility>

Outbox::Outbox(std::size_t sampleCapacity) : capacity_(sampleCapacity == 0 ? 1 : sampleCapacity) {}

void Outbox::SetWake(std::function<void()> wake) {
  std::lock_guard<std::mutex> lock(mutex_);
  wake_ = std::move(wake);
}

void Outbox::Wake() {
  std::function<void()> wake;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    wake = wake_;
  }
  if (wake) wake();
}

void Outbox::PutSample(OutMessage message) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (samples_.size() >= capacity_) {
      samples_.pop_front();
      ++dropped_;
    }
    samples_.push_back(std::move(message));
  }
  Wake();
}

void Outbox::PutState(int state, OutMessage message) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    states_[state] = std::move(message);
  }
  Wake();
}

void Outbox::PutBack(std::vector<OutMessage> messages) {
  std::lock_guard<std::mutex> lock(mutex_);
  returned_.insert(returned_.begin(), std::make_move_iterator(messages.begin()),
                   std::make_move_iterator(messages.end()));
}

std::vector<OutMessage> Outbox::Take(std::size_t most) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<OutMessage> taken;
  TakeStatesLocked(most, &taken);
  while (taken.size() < most && !samples_.empty()) {
    taken.push_back(std::move(samples_.front()));
    samples_.pop_front();
  }
  return taken;
}

void Outbox::TakeStatesLocked(std::size_t most, std::vector<OutMessage> *taken) {
  while (taken->size() < most && !returned_.empty()) {
    taken->push_back(std::move(returned_.front()));
    returned_.pop_front();
  }
  while (taken->size() < most && !states_.empty()) {
    taken->push_back(std::move(states_.begin()->second));
    states_.erase(states_.begin());
  }
}

std::vector<OutMessage> Outbox::TakeSamples() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<OutMessage> taken(std::make_move_iterator(samples_.begin()),
                                std::make_move_iterator(samples_.end()));
  samples_.clear();
  return taken;
}

std::vector<OutMessage> Outbox::TakeStates(std::size_t most) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<OutMessage> taken;
  TakeStatesLocked(most, &taken);
  return taken;
}

bool Outbox::Empty() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return samples_.empty() && states_.empty() && returned_.empty();
}

std::size_t Outbox::Samples() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::size_t count = samples_.size();
  for (const OutMessage &message : returned_) count += message.sample ? 1 : 0;
  return count;
}

long Outbox::Dropped() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return dropped_;
}
