// The runner's lines on their way to standard output, written by a thread of their own.
// Whoever puts a line (the driver's threads, the broker session, the main thread) never
// waits for the output: a reader that stalls (a pipe nobody reads, a journal that is
// behind) fills a bounded queue, after which new lines are dropped and counted, and a
// line says how many once the output moves again. The driver and the publishing go on.
#pragma once

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

class LineWriter {
 public:
  explicit LineWriter(std::FILE *out);
  // Writes what waits for up to kLastWait; a writer still stuck in a write then is left
  // to the process's end, with the state it works on.
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
  struct State;
  static void Run(const std::shared_ptr<State> &state);

  std::shared_ptr<State> state_;  // shared with the thread, which may outlive the writer
  std::thread thread_;
};
