// A long-lived epoll registration behind select() for waits over many sockets. A poll()
// over a few hundred sockets that have sat idle for 100 ms costs about 200 µs, nearly all
// of it the kernel walking each socket again; the same wait through epoll costs a few µs,
// because the registrations stay in the kernel between calls.
#pragma once

#include <poll.h>

#include <cstdint>

namespace win {
namespace posix {

// Every time a descriptor number starts or stops naming a socket, its generation moves on,
// so that a registration made for an earlier socket under the same number is never taken
// for the current one.
void NextSocketGeneration(int fd);

// Waits as poll() would over `fds`, through this thread's epoll registrations, and fills
// in each entry's revents. Returns the number of entries with events, 0 on timeout, -1
// with errno on failure, or kPollInstead when epoll cannot serve this wait (the caller
// polls: a descriptor epoll refuses, or one beyond the tracked range, also yields POLLNVAL
// there as it should).
constexpr int kPollInstead = -2;
int EpollWait(pollfd *fds, int count, int timeoutMs);

// Only threads that the emulation starts wait through epoll, and their wait set goes with
// them: a thread of the host (cold start's connects run on one) keeps nothing of the
// library, which the host may unload once driver end has returned.
void AllowEpollOnThisThread();
void ReleaseThisThreadsWaitSet();

}  // namespace posix
}  // namespace win
