// Bounded waits on one station socket, for the transfers that must complete a whole
// packet on a non-blocking socket.
#pragma once

#include <chrono>

#include "platform/winapi.h"

// A point in time on the monotonic clock, so that a change of the wall clock neither
// cuts a wait short nor stretches it.
class Deadline {
 public:
  explicit Deadline(int milliseconds)
      : end_(std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds)) {}
  int RemainingMs() const;

 private:
  std::chrono::steady_clock::time_point end_;
};

enum class SocketWait { kReady, kTimedOut, kFailed };

// Waits until `s` is readable (or writable) or the deadline passes.
SocketWait WaitReadable(win::SOCKET s, const Deadline &deadline);
SocketWait WaitWritable(win::SOCKET s, const Deadline &deadline);
