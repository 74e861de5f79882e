// Winsock select() on poll(): only the sockets named in the sets are polled, so any
// descriptor number works (fd_set indexing would stop at 1024).
#include <poll.h>

#include <cerrno>
#include <chrono>
#include <climits>

#include "platform/posix/epoll_wait_set.h"
#include "platform/posix/wsa_errors.h"
#include "platform/winapi.h"

namespace win {
namespace {

constexpr short kReadable = POLLIN | POLLHUP | POLLERR;
constexpr short kWritable = POLLOUT | POLLHUP | POLLERR;
constexpr short kException = POLLPRI;
// From this many sockets on, a wait goes through the thread's epoll registrations.
constexpr int kEpollFromSockets = 32;

struct PollSet {
  pollfd fds[3 * kFdSetSize];
  int count = 0;

  bool Add(const fd_set *set, short events) {
    if (set == nullptr) return true;
    // The first set's sockets are taken as they come, without a search: a socket that it
    // names twice is polled twice, which poll allows.
    bool first = count == 0;
    for (u_int i = 0; i < set->fd_count && i < kFdSetSize; ++i) {
      SOCKET s = set->fd_array[i];
      if (s > static_cast<SOCKET>(INT_MAX)) return false;
      int fd = static_cast<int>(s);
      if (first) {
        fds[count++] = pollfd{fd, events, 0};
      } else {
        Find(fd, static_cast<int>(i))->events |= events;
      }
    }
    return true;
  }

  // The entry of `fd`, added when missing. Sets passed together usually hold the same
  // sockets in the same order, so the entry at `hint` is looked at first: a wait over
  // hundreds of sockets then costs no search.
  pollfd *Find(int fd, int hint) {
    if (hint < count && fds[hint].fd == fd) return &fds[hint];
    for (int i = 0; i < count; ++i) {
      if (fds[i].fd == fd) return &fds[i];
    }
    fds[count] = pollfd{fd, 0, 0};
    return &fds[count++];
  }
};

// Keeps in the set only the sockets whose poll result shows `condition`; returns how
// many were kept.
int Keep(fd_set *set, PollSet &polled, short condition) {
  if (set == nullptr) return 0;
  u_int kept = 0;
  for (u_int i = 0; i < set->fd_count && i < kFdSetSize; ++i) {
    SOCKET s = set->fd_array[i];
    if (polled.Find(static_cast<int>(s), static_cast<int>(i))->revents & condition) {
      set->fd_array[kept++] = s;
    }
  }
  set->fd_count = kept;
  return static_cast<int>(kept);
}

void Empty(fd_set *set) {
  if (set != nullptr) set->fd_count = 0;
}

int TimeoutMs(const timeval *timeout) {
  if (timeout == nullptr) return -1;
  long long ms = static_cast<long long>(timeout->tv_sec) * 1000 + (timeout->tv_usec + 999) / 1000;
  return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

// A signal that interrupts the wait resumes it for the time that is left. The clock is
// read only for a real wait: the driver polls every station with a zero timeout.
int PollRetrying(PollSet &set, int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  Clock::time_point deadline;
  if (timeoutMs > 0) deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int rc = ::poll(set.fds, static_cast<nfds_t>(set.count), timeoutMs);
    if (rc >= 0 || errno != EINTR) return rc;
    if (timeoutMs > 0) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      timeoutMs = left.count() > 0 ? static_cast<int>(left.count()) : 0;
    }
  }
}

int FailAndEmpty(int wsaError, fd_set *r, fd_set *w, fd_set *e) {
  posix::RecordError(wsaError);
  Empty(r);
  Empty(w);
  Empty(e);
  return SOCKET_ERROR;
}

}  // namespace

int select(int, fd_set *readSet, fd_set *writeSet, fd_set *exceptSet, const timeval *timeout) {
  if (timeout != nullptr && (timeout->tv_sec < 0 || timeout->tv_usec < 0)) {
    return FailAndEmpty(WSAEINVAL, readSet, writeSet, exceptSet);
  }
  PollSet polled;
  if (!polled.Add(readSet, POLLIN) || !polled.Add(writeSet, POLLOUT) ||
      !polled.Add(exceptSet, POLLPRI)) {
    return FailAndEmpty(WSAENOTSOCK, readSet, writeSet, exceptSet);
  }
  if (polled.count == 0) return FailAndEmpty(WSAEINVAL, readSet, writeSet, exceptSet);

  int rc = posix::kPollInstead;
  if (polled.count >= kEpollFromSockets)
    rc = posix::EpollWait(polled.fds, polled.count, TimeoutMs(timeout));
  if (rc == posix::kPollInstead) rc = PollRetrying(polled, TimeoutMs(timeout));
  if (rc < 0) {
    posix::RecordErrno();
    Empty(readSet);
    Empty(writeSet);
    Empty(exceptSet);
    return SOCKET_ERROR;
  }
  for (int i = 0; i < polled.count; ++i) {
    if (polled.fds[i].revents & POLLNVAL) {
      return FailAndEmpty(WSAENOTSOCK, readSet, writeSet, exceptSet);
    }
  }
  if (rc == 0) {
    Empty(readSet);
    Empty(writeSet);
    Empty(exceptSet);
    return 0;
  }
  return Keep(readSet, polled, kReadable) + Keep(writeSet, polled, kWritable) +
         Keep(exceptSet, polled, kException);
}

void FdZero(fd_set *set) {
  set->fd_count = 0;
}

void FdSet(SOCKET s, fd_set *set) {
  for (u_int i = 0; i < set->fd_count; ++i) {
    if (set->fd_array[i] == s) return;
  }
  if (set->fd_count < kFdSetSize) set->fd_array[set->fd_count++] = s;
}

bool FdIsSet(SOCKET s, fd_set *set) {
  for (u_int i = 0; i < set->fd_count; ++i) {
    if (set->fd_array[i] == s) return true;
  }
  return false;
}

}  // namespace win
