#include "runner/mqtt/store_forward.h"

#include <algorithm>
#include <utility>

StoreForward::StoreForward(SampleStore *store, std::size_t memoryCapacity, Tell tell)
    : store_(store),
      memoryCapacity_(memoryCapacity == 0 ? 1 : memoryCapacity),
      tell_(std::move(tell)) {}

std::string StoreForward::Historical(const std::string &payload) {
  if (payload.size() < 2 || payload[0] != '{') return payload;
  return "{\"historical\":true," + payload.substr(1);
}

void StoreForward::Keep(std::vector<OutMessage> samples, Clock::time_point now) {
  if (samples.empty()) return;
  if (unwritten_.empty()) firstUnwritten_ = now;
  for (OutMessage &message : samples) {
    StoredSample sample;
    sample.station = message.station;
    sample.sequence = message.sequence;
    sample.topic = std::move(message.topic);
    sample.payload = std::move(message.payload);
    unwritten_.push_back(std::move(sample));
  }
}

bool StoreForward::WriteDue(Clock::time_point now) const {
  if (failing_ && now < retryAt_) return !unwritten_.empty();
  bool samples = !unwritten_.empty() &&
                 (now - firstUnwritten_ >= kWriteDelay || unwritten_.size() >= kWriteBatch);
  bool deletions = !acknowledged_.empty() &&
                   (now - firstAcknowledged_ >= kWriteDelay || acknowledged_.size() >= kWriteBatch);
  return samples || deletions;
}

void StoreForward::Write(Clock::time_point now, bool force) {
  if (unwritten_.empty() && acknowledged_.empty()) return;
  if (!force && !WriteDue(now)) return;
  std::vector<StoredSample> samples;
  samples.swap(unwritten_);
  if (failing_ && now < retryAt_ && !force) {
    StoreFailed(std::string(), samples, now);
    return;
  }
  std::string why;
  if (!store_->Commit(&samples, acknowledged_, &why)) {
    StoreFailed(why, samples, now);
    return;
  }
  if (failing_) tell_("the store " + store_->Path() + " works again");
  failing_ = false;
  for (std::int64_t id : acknowledged_) owned_.erase(id);
  acknowledged_.clear();
  Written(samples);
  long trimmed = store_->Trim();
  dropped_ += trimmed;
}

void StoreForward::Written(std::vector<StoredSample> &samples) {
  for (StoredSample &sample : samples) {
    if (!connected_) {
      backlog_ = true;
      continue;
    }
    owned_.insert(sample.id);
    live_.push_back({sample.id,
                     {std::move(sample.topic), std::move(sample.payload), false, true,
                      sample.station, sample.sequence}});
  }
}

// Told once when the store starts failing; until it works again, samples are kept in
// memory and published as they come.
void StoreForward::StoreFailed(const std::string &why, std::vector<StoredSample> &samples,
                               Clock::time_point now) {
  if (!failing_) {
    tell_("the store " + store_->Path() + " is failing (" + why +
          "): samples are kept in memory only, and lost if the runner ends before the broker has "
          "them; trying the store again every 10 s");
  }
  failing_ = true;
  retryAt_ = now + kRetryFailedStore;
  for (StoredSample &sample : samples) {
    KeepInMemory({0,
                  {std::move(sample.topic), std::move(sample.payload), false, true, sample.station,
                   sample.sequence}});
  }
}

void StoreForward::KeepInMemory(Outgoing sample) {
  std::size_t inMemory = 0;
  for (const Outgoing &waiting : live_) inMemory += waiting.id == 0 ? 1 : 0;
  if (inMemory >= memoryCapacity_) {
    auto oldest = std::find_if(live_.begin(), live_.end(),
                               [](const Outgoing &waiting) { return waiting.id == 0; });
    live_.erase(oldest);
    ++dropped_;
  }
  live_.push_back(std::move(sample));
}

std::vector<StoreForward::Outgoing> StoreForward::Next(std::size_t most, Clock::time_point now) {
  std::vector<Outgoing> out;
  while (out.size() < most && !live_.empty()) {
    out.push_back(std::move(live_.front()));
    live_.pop_front();
  }
  if (connected_ && backlog_ && !failing_ && out.size() < most)
    Replay(most - out.size(), now, &out);
  return out;
}

// The backlog goes at kReplayPerSecond at most, so that live samples keep their place.
void StoreForward::Replay(std::size_t most, Clock::time_point now, std::vector<Outgoing> *out) {
  double seconds = std::chrono::duration<double>(now - tokensAt_).count();
  tokens_ = std::min<double>(tokens_ + seconds * kReplayPerSecond, kReplayPerSecond / 10.0);
  tokensAt_ = now;
  auto allowed = std::min<std::size_t>(most, static_cast<std::size_t>(tokens_));
  while (allowed > 0) {
    std::vector<std::string> notes;
    std::int64_t last = 0;
    std::vector<StoredSample> found = store_->After(replayedUpTo_, allowed, &notes, &last);
    for (const std::string &note : notes) tell_(note);
    if (last <= replayedUpTo_) {  // nothing further, sound or not
      backlog_ = false;
      return;
    }
    replayedUpTo_ = last;
    for (StoredSample &sample : found) {
      if (owned_.count(sample.id) != 0) continue;
      owned_.insert(sample.id);
      out->push_back({sample.id,
                      {std::move(sample.topic), Historical(sample.payload), false, true,
                       sample.station, sample.sequence}});
      tokens_ -= 1;
      --allowed;
    }
  }
}

void StoreForward::PutBack(std::vector<Outgoing> samples) {
  live_.insert(live_.begin(), std::make_move_iterator(samples.begin()),
               std::make_move_iterator(samples.end()));
}

void StoreForward::Acknowledged(std::int64_t id) {
  if (id == 0) return;
  if (acknowledged_.empty()) firstAcknowledged_ = Clock::now();
  acknowledged_.push_back(id);
}

void StoreForward::Connected(Clock::time_point now) {
  connected_ = true;
  tokensAt_ = now;
  tokens_ = 0;
}

void StoreForward::Disconnected() {
  connected_ = false;
  std::deque<Outgoing> inMemory;
  for (Outgoing &waiting : live_) {
    if (waiting.id == 0) {
      inMemory.push_back(std::move(waiting));
      continue;
    }
    owned_.erase(waiting.id);
    replayedUpTo_ = std::min(replayedUpTo_, waiting.id - 1);
    backlog_ = true;
  }
  live_.swap(inMemory);
}

int StoreForward::TimeoutMs(Clock::time_point now, int longest) const {
  auto until = [&](Clock::time_point at) {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(at - now).count() + 1;
    return static_cast<int>(std::clamp<long long>(ms, 0, longest));
  };
  int timeout = longest;
  if (!unwritten_.empty()) timeout = std::min(timeout, until(firstUnwritten_ + kWriteDelay));
  if (!acknowledged_.empty()) timeout = std::min(timeout, until(firstAcknowledged_ + kWriteDelay));
  if (connected_ && backlog_ && !failing_ && tokens_ < 1) {
    timeout = std::min(timeout, static_cast<int>(1000 / kReplayPerSecond) + 1);
  }
  return timeout;
}

bool StoreForward::Idle() const {
  return unwritten_.empty() && live_.empty() && !backlog_ && acknowledged_.empty();
}

long StoreForward::InMemory() const {
  long inMemory = 0;
  for (const Outgoing &waiting : live_) inMemory += waiting.id == 0 ? 1 : 0;
  return inMemory + static_cast<long>(unwritten_.size());
}
