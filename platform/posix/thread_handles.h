// Thread handles share the handle table with events, so that WaitForSingleObject and
// CloseHandle take either, as on Windows.
#pragma once

#include <pthread.h>

#include "platform/winapi.h"

namespace win::posix {

// A handle for a thread that is about to be created; null when the table is full. Until
// the thread is attached, nobody but its creator has the handle.
HANDLE ReserveThreadHandle();
void AttachThread(HANDLE handle, pthread_t thread);
// For a thread that could not be created.
void DropThreadHandle(HANDLE handle);

}  // namespace win::posix
