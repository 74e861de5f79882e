// win::Lock: a std::mutex whose end a thread checker sees. A std::mutex on POSIX ends
// without a call, so valgrind's helgrind keeps the lock orders it learnt for a mutex that
// is gone and pins them on whatever is put at its address next (a later instance's or
// station's locks, taken in another order), which it then reports as an inversion. The
// POSIX form destroys the mutex explicitly, which makes the checker forget it. It is a
// std::mutex in every other way, so std::lock_guard<std::mutex> and condition variables
// take it as one.
#pragma once

#if defined(_WIN32)
#include "platform/win32/lock_win32.h"
#else
#include "platform/posix/lock_posix.h"
#endif
