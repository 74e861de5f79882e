// LoadLibraryA and friends on dlopen. Libraries are loaded with local symbol scope, as
// Windows keeps every DLL's names to itself.
#include <dlfcn.h>

#include "platform/winapi.h"

namespace win {

HMODULE LoadLibraryA(const char *path) {
  if (path == nullptr) return nullptr;
  return ::dlopen(path, RTLD_NOW | RTLD_LOCAL);
}

FARPROC GetProcAddress(HMODULE module, const char *name) {
  if (module == nullptr || name == nullptr) return nullptr;
  return reinterpret_cast<FARPROC>(::dlsym(module, name));
}

BOOL FreeLibrary(HMODULE module) {
  if (module == nullptr) return FALSE;
  return ::dlclose(module) == 0 ? TRUE : FALSE;
}

}  // namespace win
