#include "runner/driver_library.h"

#include <cstdio>

#if defined(__linux__)
#include <unistd.h>
#endif

bool DriverLibrary::Load(const std::string &path, std::string *reason) {
  module_ = win::LoadLibraryA(path.c_str());
  if (module_ == nullptr) {
    *reason = "cannot load the driver library '" + path + "'";
    return false;
  }
  // A generic function pointer converts to the entry's real type through void (*)().
  auto generic = reinterpret_cast<void (*)()>(win::GetProcAddress(module_, "OxaMain"));
  oxaMain_ = reinterpret_cast<OxaMainFunction>(generic);
  if (oxaMain_ == nullptr) {
    *reason = "the library '" + path + "' does not export OxaMain";
    return false;
  }
  return true;
}

namespace {

#if defined(DEVADO_INSTALLED_DRIVER)
bool FileExists(const std::string &path) {
  std::FILE *file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  std::fclose(file);
  return true;
}
#endif

// The folder of the running program: the one its path names, or, for a program started
// through PATH, whose name has no folder, the one the system knows ("." when it does not
// say).
std::string ProgramDirectory(const std::string &program) {
  std::size_t slash = program.find_last_of("/\\");
  if (slash != std::string::npos) return program.substr(0, slash);
#if defined(__linux__)
  char self[4096];
  ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  if (length > 0) {
    std::string path(self, static_cast<std::size_t>(length));
    slash = path.find_last_of('/');
    if (slash != std::string::npos) return slash == 0 ? "/" : path.substr(0, slash);
  }
#endif
  return ".";
}

}  // namespace

// In the build tree, and in the Windows tools folder, the driver lies beside the program.
// Installed on Linux it does not: the libraries go to a folder of their own in lib/, where
// the tools find the runtime and packet libraries through their RPATH. The driver is not
// linked but loaded by name, as a host loads it, so the program looks for it there itself
// (DEVADO_INSTALLED_DRIVER: its path relative to the installed program's folder, fixed
// at configure time), but only when there is none beside the program. A program in the
// build tree therefore never loads an installed driver, and a driver put beside an
// installed program comes first.
std::string DefaultDriverPath(const char *programPath) {
  std::string directory = ProgramDirectory(programPath != nullptr ? programPath : "");
  std::string beside = directory + "/" + DEVADO_DRIVER_FILE;
#if defined(DEVADO_INSTALLED_DRIVER)
  if (!FileExists(beside)) {
    std::string installed = directory + "/" + DEVADO_INSTALLED_DRIVER;
    if (FileExists(installed)) return installed;
  }
#endif
  return beside;  // named by the error message when it cannot be loaded
}
