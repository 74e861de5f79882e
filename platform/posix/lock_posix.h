#pragma once

#include <mutex>

#if __has_include(<valgrind/helgrind.h>)
#include <valgrind/helgrind.h>
#define DEVADO_LOCK_MADE(mutex) VALGRIND_HG_MUTEX_INIT_POST(mutex, 0)
#define DEVADO_LOCK_GONE(mutex) VALGRIND_HG_MUTEX_DESTROY_PRE(mutex)
#else
#define DEVADO_LOCK_MADE(mutex) ((void)(mutex))
#define DEVADO_LOCK_GONE(mutex) ((void)(mutex))
#endif

namespace win {

// Its start and end are told through the checker's own requests rather than
// pthread_mutex_destroy, which would read the lock word and be taken for a race with the
// last unlock; the start is told too, since the checker refuses the end of a mutex it
// never saw. Outside valgrind each request costs a few instructions and does nothing.
class Lock : public std::mutex {
 public:
  Lock() { DEVADO_LOCK_MADE(native_handle()); }
  Lock(const Lock &) = delete;
  Lock &operator=(const Lock &) = delete;
  ~Lock() { DEVADO_LOCK_GONE(native_handle()); }
};

}  // namespace win

#undef DEVADO_LOCK_MADE
#undef DEVADO_LOCK_GONE
