// The driver loaded as the host loads it: by file name, through its one exported entry.
#pragma once

#include <string>

#include "platform/winapi.h"

using OxaMainFunction = int(DEVADO_STDCALL *)(void *commandBlock);

class DriverLibrary {
 public:
  // The library stays loaded until the process exits: a driver thread may outlive driver
  // end, which waits for its threads only so long, and the driver keeps state in statics.
  DriverLibrary() = default;
  DriverLibrary(const DriverLibrary &) = delete;
  DriverLibrary &operator=(const DriverLibrary &) = delete;

  // Loads the library at `path` and finds OxaMain; false, with a reason, otherwise.
  bool Load(const std::string &path, std::string *reason);
  int Call(void *commandBlock) const { return oxaMain_(commandBlock); }

 private:
  win::HMODULE module_ = nullptr;
  OxaMainFunction oxaMain_ = nullptr;
};

// The driver's file name on this platform, in the directory of the running program (whose
// path is `programPath`, argv[0]); on Linux, when there is none there, the installed driver
// if there is one (see driver_library.cpp).
std::string DefaultDriverPath(const char *programPath);
