#include "runner/line_writer.h"

#include <utility>

LineWriter::LineWriter(std::FILE *out) : out_(out), thread_([this] { Run(); }) {}

LineWriter::~LineWriter() {
  std::unique_lock<std::mutex> lock(mutex_);
  ending_ = true;
  changed_.notify_all();
  bool written = changed_.wait_for(lock, kLastWait, [this] { return queue_.empty() && !writing_; });
  lock.unlock();
  if (written) {
    thread_.join();
  } else {
    thread_.detach();  // blocked in a write that nobody reads: the process's end takes it
  }
}

void LineWriter::Put(std::string line) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (queuedBytes_ + line.size() > kQueuedBytes) {
    ++dropped_;
    return;
  }
  queuedBytes_ += line.size();
  queue_.push_back(std::move(line));
  changed_.notify_all();
}

bool LineWriter::Flush(std::chrono::milliseconds most) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, most, [this] { return queue_.empty() && !writing_; });
}

long LineWriter::Dropped() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return dropped_;
}

void LineWriter::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return !queue_.empty() || ending_; });
    if (queue_.empty()) return;
    // The lines being written still count against the bound until they are out.
    std::deque<std::string> lines;
    lines.swap(queue_);
    std::size_t batchBytes = queuedBytes_;
    long dropped = dropped_ - droppedTold_;
    droppedTold_ = dropped_;
    writing_ = true;
    lock.unlock();
    if (dropped > 0) {
      std::fprintf(out_,
                   "devado-host: %ld lines of output dropped: the output was not read in time\n",
                   dropped);
    }
    for (const std::string &line : lines) {
      std::fputs(line.c_str(), out_);
      std::fputc('\n', out_);
    }
    std::fflush(out_);
    lock.lock();
    queuedBytes_ -= batchBytes;
    writing_ = false;
    changed_.notify_all();
  }
}
