#include "runner/driver_library.h"

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

std::string DefaultDriverPath(const char *programPath) {
  std::string program = programPath != nullptr ? programPath : "";
  std::size_t slash = program.find_last_of("/\\");
  std::string directory = slash == std::string::npos ? "." : program.substr(0, slash);
  return directory + "/" + DEVADO_DRIVER_FILE;
}
