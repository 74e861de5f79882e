// Windows load notification. All set-up happens in cold start and all tear-down in
// driver end; per-thread notifications are not wanted.
#include "platform/winapi.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  return TRUE;
}
