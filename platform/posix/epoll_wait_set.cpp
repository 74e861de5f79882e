#include "platform/posix/epoll_wait_set.h"

#include <sys/epoll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <vector>

namespace win {
namespace posix {
namespace {

// Descriptor numbers up to this bound are tracked; a wait naming a higher one is polled.
constexpr int kTrackedDescriptors = 1 << 16;
// Waits in a row that name the set of the wait before, before the set is registered.
constexpr int kRepeatsBeforeRegistering = 10;

std::atomic<std::uint32_t> generations[kTrackedDescriptors];
// Moves on with every generation: while it stands still, no registration can be stale.
std::atomic<std::uint32_t> anyGeneration{0};

std::uint32_t GenerationOf(int fd) {
  return generations[fd].load(std::memory_order_acquire);
}

// The registrations of one thread's epoll instance. A descriptor that is not named in a
// wait is removed before that wait, so a ready socket that nobody asks about cannot crowd
// the answer.
class EpollWaitSet {
 public:
  ~EpollWaitSet() {
    if (epoll_ >= 0) ::close(epoll_);
  }

  int Wait(pollfd *fds, int count, int timeoutMs) {
    if (epoll_ < 0) epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
    if (epoll_ < 0) return kPollInstead;
    if (!RegistrationsStand(fds, count)) {
      std::uint32_t generation = anyGeneration.load(std::memory_order_acquire);
      // Registering a set costs the kernel about as much per socket (once to add it, once
      // when it closes) as several polls, which only a set waited on pass after pass
      // earns back. A set is polled until it has been named again ten times in a row with
      // every socket still the same (a second of the receiving thread's passes): the
      // connects that the re-open thread holds for a few rounds never pay for
      // registrations.
      bool seen = SeenInLastWait(fds, count);
      repeats_ = seen ? std::min(repeats_ + 1, kRepeatsBeforeRegistering) : 0;
      if (!seen ||
          (!registered_ && (repeats_ < kRepeatsBeforeRegistering || !RegisterAll(fds, count)))) {
        Remember(fds, count, false, generation);
        return kPollInstead;
      }
      Remember(fds, count, true, generation);
    }
    if (events_.size() < static_cast<std::size_t>(count)) events_.resize(count);
    int ready = WaitRetrying(count, timeoutMs);
    if (ready < 0) return -1;
    int withEvents = 0;
    for (int e = 0; e < ready; ++e) {
      pollfd *entry = EntryOf(events_[e].data.u64, fds, count);
      if (entry == nullptr) continue;
      // epoll's event bits are poll's on Linux.
      entry->revents = static_cast<short>(events_[e].events & (entry->events | POLLERR | POLLHUP));
      if (entry->revents != 0) ++withEvents;
    }
    return withEvents;
  }

 private:
  // An event's data: the descriptor and the generation it was registered for, so that an
  // event of a registration that outlived its socket (a copy of the descriptor kept open
  // elsewhere) is never taken for the socket that now has the number.
  static std::uint64_t EventData(int fd, std::uint32_t generation) {
    return (static_cast<std::uint64_t>(generation) << 32) | static_cast<std::uint32_t>(fd);
  }

  pollfd *EntryOf(std::uint64_t data, pollfd *fds, int count) {
    int fd = static_cast<int>(static_cast<std::uint32_t>(data));
    auto generation = static_cast<std::uint32_t>(data >> 32);
    if (fd < 0 || static_cast<std::size_t>(fd) >= entries_.size()) return nullptr;
    const Entry &entry = entries_[fd];
    if (!entry.registered || entry.generation != generation) return nullptr;
    if (entry.index >= count || fds[entry.index].fd != fd) return nullptr;
    return &fds[entry.index];
  }

  struct Entry {
    bool registered = false;
    bool listed = false;  // in named_
    std::uint32_t generation = 0;
    short events = 0;
    int index = 0;            // in this round's pollfd array
    std::uint64_t round = 0;  // the last wait that named the descriptor
  };

  // The same sockets, in the same order, for the same events as the last wait, registered
  // then, and no socket opened or closed anywhere since: the registrations stand as they
  // are. A thread that waits on the same stations pass after pass thus makes no change in
  // the kernel and takes no look at each descriptor's bookkeeping.
  bool RegistrationsStand(pollfd *fds, int count) {
    if (!registered_ || lastWait_.size() != static_cast<std::size_t>(count)) return false;
    if (anyGeneration.load(std::memory_order_acquire) != lastGeneration_) return false;
    for (int i = 0; i < count; ++i) {
      if (fds[i].fd != lastWait_[i].fd || fds[i].events != lastWait_[i].events) return false;
      fds[i].revents = 0;
    }
    return true;
  }

  // The same sockets for the same events as the last wait, each still the socket it was
  // then, though other sockets came and went meanwhile (another thread's connects): what
  // was registered then still stands.
  bool SeenInLastWait(pollfd *fds, int count) {
    if (lastWait_.size() != static_cast<std::size_t>(count)) return false;
    for (int i = 0; i < count; ++i) {
      const pollfd &last = lastWait_[i];
      if (fds[i].fd != last.fd || fds[i].events != last.events) return false;
      if (fds[i].fd < 0 || fds[i].fd >= kTrackedDescriptors) return false;
      if (GenerationOf(fds[i].fd) != lastGenerations_[i]) return false;
      fds[i].revents = 0;
    }
    return true;
  }

  // Keeps the wait's sockets and, for each, the generation it was registered for, or, when
  // the wait is polled, the generation read now. `generation` is the count of all sockets
  // read before the wait's sockets were looked at, so that a socket opened or closed since
  // is looked at again next time.
  void Remember(pollfd *fds, int count, bool registered, std::uint32_t generation) {
    lastWait_.assign(fds, fds + count);
    lastGenerations_.resize(count);
    for (int i = 0; i < count; ++i) {
      int fd = fds[i].fd;
      if (registered) {
        lastGenerations_[i] = entries_[fd].generation;
      } else {
        lastGenerations_[i] = fd >= 0 && fd < kTrackedDescriptors ? GenerationOf(fd) : 0;
      }
    }
    registered_ = registered;
    lastGeneration_ = generation;
  }

  bool RegisterAll(pollfd *fds, int count) {
    ++round_;
    for (int i = 0; i < count; ++i) {
      if (!Register(fds[i], i)) return false;
    }
    DropUnnamed();
    return true;
  }

  bool Register(pollfd &wanted, int index) {
    wanted.revents = 0;
    int fd = wanted.fd;
    if (fd < 0 || fd >= kTrackedDescriptors) return false;
    if (entries_.size() <= static_cast<std::size_t>(fd)) entries_.resize(fd + 1);
    Entry &entry = entries_[fd];
    if (entry.round == round_) {
      // Named twice in one wait: poll would answer both, this answers one.
      return false;
    }
    std::uint32_t generation = GenerationOf(fd);
    epoll_event event{};
    event.events = static_cast<std::uint32_t>(wanted.events);
    event.data.u64 = EventData(fd, generation);
    if (entry.registered && entry.generation != generation) {
      // The socket it was made for is closed, which ended its registration with it.
      ::epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
      entry.registered = false;
    }
    if (!entry.registered) {
      if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event) != 0) return false;
      entry.registered = true;
      if (!entry.listed) named_.push_back(fd);
      entry.listed = true;
    } else if (entry.events != wanted.events) {
      if (::epoll_ctl(epoll_, EPOLL_CTL_MOD, fd, &event) != 0) return false;
    }
    entry.generation = generation;
    entry.events = wanted.events;
    entry.index = index;
    entry.round = round_;
    return true;
  }

  void DropUnnamed() {
    std::size_t kept = 0;
    for (int fd : named_) {
      Entry &entry = entries_[fd];
      if (entry.round == round_) {
        named_[kept++] = fd;
        continue;
      }
      if (entry.generation == GenerationOf(fd)) ::epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
      entry.registered = false;
      entry.listed = false;
    }
    named_.resize(kept);
  }

  int WaitRetrying(int count, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    Clock::time_point deadline;
    if (timeoutMs > 0) deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      int rc = ::epoll_wait(epoll_, events_.data(), count, timeoutMs);
      if (rc >= 0 || errno != EINTR) return rc;
      if (timeoutMs > 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        timeoutMs = left.count() > 0 ? static_cast<int>(left.count()) : 0;
      }
    }
  }

  int epoll_ = -1;
  std::uint64_t round_ = 0;
  std::vector<Entry> entries_;  // by descriptor number
  std::vector<int> named_;      // the registered descriptors
  std::vector<epoll_event> events_;
  std::vector<pollfd> lastWait_;                // the last wait's sockets
  std::vector<std::uint32_t> lastGenerations_;  // and their generations then
  bool registered_ = false;                     // registered for that wait
  int repeats_ = 0;  // waits in a row that named the set of the wait before
  std::uint32_t lastGeneration_ = 0;
};

}  // namespace

void NextSocketGeneration(int fd) {
  if (fd >= 0 && fd < kTrackedDescriptors) generations[fd].fetch_add(1, std::memory_order_acq_rel);
  anyGeneration.fetch_add(1, std::memory_order_acq_rel);
}

namespace {

// Plain pointers: a thread_local with a destructor would keep the library loaded for as
// long as any thread that ever waited lives.
thread_local bool epollAllowed = false;
thread_local EpollWaitSet *waitSet = nullptr;

}  // namespace

void AllowEpollOnThisThread() {
  epollAllowed = true;
}

void ReleaseThisThreadsWaitSet() {
  delete waitSet;
  waitSet = nullptr;
  epollAllowed = false;
}

int EpollWait(pollfd *fds, int count, int timeoutMs) {
  if (!epollAllowed) return kPollInstead;
  try {
    if (waitSet == nullptr) waitSet = new EpollWaitSet;
    return waitSet->Wait(fds, count, timeoutMs);
  } catch (...) {
    // Out of memory for the registrations: poll() needs none.
    return kPollInstead;
  }
}

}  // namespace posix
}  // namespace win
