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

BOOL GetModuleHandleExA(DWORD flags, const char *name, HMODULE *module) {
  constexpr DWORD kPinFromAddress =
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN;
  if (flags != kPinFromAddress || name == nullptr || module == nullptr) return FALSE;
  Dl_info info;
  if (::dladdr(name, &info) == 0 || info.dli_fname == nullptr) return FALSE;
  // Another reference that no dlclose undoes: the library stays as long as the process.
  *module = ::dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
  return *module != nullptr ? TRUE : FALSE;
}

}  // namespace win
