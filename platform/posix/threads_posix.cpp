// Sleep, _beginthread and _beginthreadex on POSIX threads.
#include <pthread.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <thread>

#include "platform/posix/epoll_wait_set.h"
#include "platform/posix/thread_handles.h"
#include "platform/winapi.h"

namespace win {
namespace {

// glibc keeps a thread's TLS inside its stack, and Windows only commits the requested
// size while reserving more; a small request is therefore raised to this.
constexpr size_t kMinimumStack = 256 * 1024;

struct ThreadStart {
  void (*start)(void *);
  void *argument;
};

void *RunThread(void *raw) {
  ThreadStart begin = *static_cast<ThreadStart *>(raw);
  delete static_cast<ThreadStart *>(raw);
  posix::AllowEpollOnThisThread();
  begin.start(begin.argument);
  posix::ReleaseThisThreadsWaitSet();
  return nullptr;
}

struct ThreadStartEx {
  unsigned(DEVADO_STDCALL *start)(void *);
  void *argument;
};

void *RunThreadEx(void *raw) {
  ThreadStartEx begin = *static_cast<ThreadStartEx *>(raw);
  delete static_cast<ThreadStartEx *>(raw);
  posix::AllowEpollOnThisThread();
  begin.start(begin.argument);
  posix::ReleaseThisThreadsWaitSet();
  return nullptr;
}

size_t StackSize(unsigned requested) {
  size_t size = requested < kMinimumStack ? kMinimumStack : requested;
  long page = ::sysconf(_SC_PAGESIZE);
  size_t pageSize = page > 0 ? static_cast<size_t>(page) : 4096;
  return (size + pageSize - 1) / pageSize * pageSize;
}

}  // namespace

void Sleep(DWORD milliseconds) {
  if (milliseconds == 0) {
    std::this_thread::yield();
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::uintptr_t _beginthread(void (*start)(void *), unsigned stackSize, void *argument) {
  constexpr std::uintptr_t kFailed = ~static_cast<std::uintptr_t>(0);
  if (start == nullptr) return kFailed;
  pthread_attr_t attributes;
  if (::pthread_attr_init(&attributes) != 0) return kFailed;
  ::pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  ::pthread_attr_setstacksize(&attributes, StackSize(stackSize));
  auto *begin = new ThreadStart{start, argument};
  pthread_t thread;
  int rc = ::pthread_create(&thread, &attributes, RunThread, begin);
  ::pthread_attr_destroy(&attributes);
  if (rc != 0) {
    delete begin;
    return kFailed;
  }
  return static_cast<std::uintptr_t>(thread);
}

std::uintptr_t _beginthreadex(void *, unsigned stackSize, unsigned(DEVADO_STDCALL *start)(void *),
                              void *argument, unsigned, unsigned *) {
  if (start == nullptr) return 0;
  pthread_attr_t attributes;
  if (::pthread_attr_init(&attributes) != 0) return 0;
  ::pthread_attr_setstacksize(&attributes, StackSize(stackSize));
  HANDLE handle = posix::ReserveThreadHandle();
  auto *begin = new ThreadStartEx{start, argument};
  pthread_t thread;
  int rc = handle == nullptr ? -1 : ::pthread_create(&thread, &attributes, RunThreadEx, begin);
  ::pthread_attr_destroy(&attributes);
  if (rc != 0) {
    delete begin;
    if (handle != nullptr) posix::DropThreadHandle(handle);
    return 0;
  }
  posix::AttachThread(handle, thread);
  return reinterpret_cast<std::uintptr_t>(handle);
}

}  // namespace win
