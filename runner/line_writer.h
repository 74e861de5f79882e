// The runner's lines on their way to standard output, written by a thread of their own.
// Whoever puts a line (the driver's threads, the broker session, the main thread) never
// waits for the output: a reader that stalls (a pipe nobody reads, a journal that is
// behind) fills a bounded queue, after which new lines are dropped and counted, and a
// line says how many once the output moves again. The driver and the publishing go on.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

class LineWriter {
 public:
  explicit LineWriter(std::FILE *out);
  // Writes what waits for up to kLastWait; a writer still stuck then is left to the
  // process's end.
  ~LineWriter();
  LineWriter(const LineWriter &) = delete;
  LineWriter &operator=(const LineWriter &) = delete;

  void Put(std::string line);
  // Waits up to `most` until every line put so far is written (before the terminal is
  // drawn on directly); false when the output did not move in that time.
  bool Flush(std::chrono::milliseconds most);
  long Dropped() const;

  static constexpr std::size_t kQueuedBytes = 4 << 20;
  static constexpr auto kLastWait = std::chrono::seconds(5);

 private:
  void Run();

  std::FILE *out_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::string> queue_;
  std::size_t queuedBytes_ = 0;
  bool writing_ = false;
  bool ending_ = false;
  long dropped_ = 0;
  long droppedTold_ = 0;
  std::thread thread_;
};
