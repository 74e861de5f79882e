// Win32 event objects and thread handles on POSIX. Handles are numbers in a table, never
// pointers, so that a closed or made-up handle is recognised (WAIT_FAILED, FALSE) instead
// of touching freed memory. A handle value encodes its slot and a generation that changes
// at every reuse of the slot, so a stale handle does not reach the slot's next object.
//
// A thread's handle is signalled once the thread has been joined: a wait on it is a join
// with a time limit, and closing an unjoined one detaches the thread.
#include <pthread.h>
#include <time.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/lock.h"
#include "platform/posix/thread_handles.h"
#include "platform/winapi.h"

namespace win {
namespace {

struct Event {
  Lock mutex;
  std::condition_variable changed;
  bool signalled = false;
  bool manualReset = false;
  bool isThread = false;
  pthread_t thread{};
};

class HandleTable {
 public:
  HANDLE Add(std::shared_ptr<Event> event) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (std::uint32_t i = 0; i < kSlots; ++i) {
      std::uint32_t slot = (next_ + i) % kSlots;
      if (slots_[slot].event) continue;
      next_ = slot + 1;
      Slot &s = slots_[slot];
      s.generation = (s.generation + 1) & kGenerationMask;
      if (s.generation == 0) s.generation = 1;
      s.event = std::move(event);
      return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(Encode(slot, s.generation)));
    }
    return nullptr;
  }

  std::shared_ptr<Event> Find(HANDLE handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    Slot *s = Lookup(handle);
    return s != nullptr ? s->event : nullptr;
  }

  bool Remove(HANDLE handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    Slot *s = Lookup(handle);
    if (s == nullptr) return false;
    s->event.reset();
    return true;
  }

 private:
  // Slot index in the low 12 bits (1..4094, so that no handle is 0 or all ones), the
  // generation in the upper 20.
  static constexpr std::uint32_t kSlots = 4094;
  static constexpr std::uint32_t kGenerationMask = 0xFFFFF;

  struct Slot {
    std::shared_ptr<Event> event;
    std::uint32_t generation = 0;
  };

  static std::uint32_t Encode(std::uint32_t slot, std::uint32_t generation) {
    return (generation << 12) | (slot + 1);
  }

  Slot *Lookup(HANDLE handle) {
    auto value = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(handle));
    std::uint32_t index = value & 0xFFF;
    if (index == 0 || index > kSlots) return nullptr;
    Slot &s = slots_[index - 1];
    if (!s.event || s.generation != (value >> 12)) return nullptr;
    return &s;
  }

  std::mutex mutex_;
  Slot slots_[kSlots];
  std::uint32_t next_ = 0;
};

HandleTable &Handles() {
  static HandleTable *table = new HandleTable;  // never destroyed: threads may outlive main
  return *table;
}

// Joins the thread within `milliseconds` (INFINITE: no limit); the event's mutex is held.
bool JoinThread(Event &thread, DWORD milliseconds) {
  if (thread.signalled) return true;
  int rc;
  if (milliseconds == INFINITE) {
    rc = ::pthread_join(thread.thread, nullptr);
  } else {
    // The deadline is on the monotonic clock: a step of the wall clock (an NTP correction,
    // an operator) must neither cut driver end short nor stretch it.
    timespec deadline;
    ::clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += static_cast<time_t>(milliseconds / 1000);
    deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
      deadline.tv_sec += 1;
      deadline.tv_nsec -= 1000000000L;
    }
    rc = ::pthread_clockjoin_np(thread.thread, nullptr, CLOCK_MONOTONIC, &deadline);
  }
  thread.signalled = rc == 0;
  return thread.signalled;
}

}  // namespace

namespace posix {

HANDLE ReserveThreadHandle() {
  auto event = std::make_shared<Event>();
  event->isThread = true;
  return Handles().Add(std::move(event));
}

void AttachThread(HANDLE handle, pthread_t thread) {
  std::shared_ptr<Event> event = Handles().Find(handle);
  if (!event) return;
  std::lock_guard<std::mutex> lock(event->mutex);
  event->thread = thread;
}

void DropThreadHandle(HANDLE handle) {
  Handles().Remove(handle);
}

}  // namespace posix

HANDLE CreateEventA(void *, BOOL manualReset, BOOL initialState, const char *) {
  auto event = std::make_shared<Event>();
  event->signalled = initialState != FALSE;
  event->manualReset = manualReset != FALSE;
  return Handles().Add(std::move(event));
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  std::shared_ptr<Event> event = Handles().Find(handle);
  if (!event) return WAIT_FAILED;
  std::unique_lock<std::mutex> lock(event->mutex);
  if (event->isThread) return JoinThread(*event, milliseconds) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
  auto isSignalled = [&] { return event->signalled; };
  if (milliseconds == INFINITE) {
    event->changed.wait(lock, isSignalled);
  } else if (!event->changed.wait_for(lock, std::chrono::milliseconds(milliseconds), isSignalled)) {
    return WAIT_TIMEOUT;
  }
  if (!event->manualReset) event->signalled = false;
  return WAIT_OBJECT_0;
}

BOOL SetEvent(HANDLE handle) {
  std::shared_ptr<Event> event = Handles().Find(handle);
  if (!event || event->isThread) return FALSE;
  {
    std::lock_guard<std::mutex> lock(event->mutex);
    event->signalled = true;
  }
  event->changed.notify_all();
  return TRUE;
}

BOOL CloseHandle(HANDLE handle) {
  std::shared_ptr<Event> event = Handles().Find(handle);
  if (!event || !Handles().Remove(handle)) return FALSE;
  std::lock_guard<std::mutex> lock(event->mutex);
  if (event->isThread && !event->signalled) ::pthread_detach(event->thread);
  return TRUE;
}

}  // namespace win
