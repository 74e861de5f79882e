#include "link/socket_wait.h"

namespace {

SocketWait Wait(win::SOCKET s, bool writable, const Deadline &deadline) {
  win::fd_set set;
  win::FdZero(&set);
  win::FdSet(s, &set);
  int ms = deadline.RemainingMs();
  win::timeval timeout{ms / 1000, (ms % 1000) * 1000};
  int rc = writable ? win::select(1, nullptr, &set, nullptr, &timeout)
                    : win::select(1, &set, nullptr, nullptr, &timeout);
  if (rc == SOCKET_ERROR) return SocketWait::kFailed;
  return rc > 0 && win::FdIsSet(s, &set) ? SocketWait::kReady : SocketWait::kTimedOut;
}

}  // namespace

int Deadline::RemainingMs() const {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      end_ - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

SocketWait WaitReadable(win::SOCKET s, const Deadline &deadline) {
  return Wait(s, false, deadline);
}

SocketWait WaitWritable(win::SOCKET s, const Deadline &deadline) {
  return Wait(s, true, deadline);
}
