#include "runner/line_writer.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <utility>

struct LineWriter::State {
  std::FILE *out;
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::string> queue;
  std::size_t queuedBytes = 0;  // the lines waiting and those being written
  bool writing = false;
  bool ending = false;
  long dropped = 0;
  long droppedTold = 0;

  bool Untold() const { return dropped != droppedTold; }
  // The count of dropped lines is written too: the drops may come while the last batch is
  // being written, with no line after them to carry the count.
  bool Written() const { return queue.empty() && !writing && !Untold(); }
};

LineWriter::LineWriter(std::FILE *out) : state_(std::make_shared<State>()) {
  state_->out = out;
  thread_ = std::thread([state = state_] { Run(state); });
}

LineWriter::~LineWriter() {
  std::unique_lock<std::mutex> lock(state_->mutex);
  state_->ending = true;
  state_->changed.notify_all();
  bool written = state_->changed.wait_for(lock, kLastWait, [this] { return state_->Written(); });
  lock.unlock();
  if (written) {
    thread_.join();
  } else {
    thread_.detach();  // blocked in a write that nobody reads: the process's end takes it
  }
}

void LineWriter::Put(std::string line) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (state_->queuedBytes + line.size() > kQueuedBytes) {
    ++state_->dropped;
    state_->changed.notify_all();
    return;
  }
  state_->queuedBytes += line.size();
  state_->queue.push_back(std::move(line));
  state_->changed.notify_all();
}

bool LineWriter::Flush(std::chrono::milliseconds most) {
  std::unique_lock<std::mutex> lock(state_->mutex);
  return state_->changed.wait_for(lock, most, [this] { return state_->Written(); });
}

long LineWriter::Dropped() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->dropped;
}

void LineWriter::Run(const std::shared_ptr<State> &state) {
  std::unique_lock<std::mutex> lock(state->mutex);
  for (;;) {
    state->changed.wait(lock, [&] { return !state->Written() || state->ending; });
    if (state->Written()) return;
    std::deque<std::string> lines;
    lines.swap(state->queue);
    std::size_t batchBytes = state->queuedBytes;
    long dropped = state->dropped - state->droppedTold;
    state->droppedTold = state->dropped;
    state->writing = true;
    lock.unlock();
    if (dropped > 0) {
      std::fprintf(state->out,
                   "devado-host: %ld lines of output dropped: the output was not read in time\n",
                   dropped);
    }
    for (const std::string &line : lines) {
      std::fputs(line.c_str(), state->out);
      std::fputc('\n', state->out);
    }
    std::fflush(state->out);
    lock.lock();
    state->queuedBytes -= batchBytes;
    state->writing = false;
    state->changed.notify_all();
  }
}
