// Win32 event objects on POSIX. Handles are numbers in a table, never pointers, so that
// a closed or made-up handle is recognised (WAIT_FAILED, FALSE) instead of touching freed
// memory. A handle value encodes its slot and a generation that changes at every reuse
// of the slot, so a stale handle does not reach the slot's next event.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/winapi.h"

namespace win {
namespace {

struct Event {
  std::mutex mutex;
  std::condition_variable changed;
  bool signalled;
  bool manualReset;
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

}  // namespace

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
  if (!event) return FALSE;
  {
    std::lock_guard<std::mutex> lock(event->mutex);
    event->signalled = true;
  }
  event->changed.notify_all();
  return TRUE;
}

BOOL CloseHandle(HANDLE handle) {
  return Handles().Remove(handle) ? TRUE : FALSE;
}

}  // namespace win
