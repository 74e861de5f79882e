// A host program that defines the logging call itself: the driver's lines must reach the
// host's own definition rather than the stand-in runtime's or the C library's.
#include <dlfcn.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "contracts/command_block.h"

namespace {
int linesSeen = 0;
int lastLevel = -1;
std::string lastLine;
}  // namespace

extern "C" void err(int level, const char *format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  ++linesSeen;
  lastLevel = level;
  lastLine = text;
}

int main(int argc, char **argv) {
  if (argc != 2) return 2;
  void *driver = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (driver == nullptr) {
    std::printf("dlopen failed: %s\n", dlerror());
    return 1;
  }
  using OxaMainFunction = int(__attribute__((stdcall)) *)(void *);
  auto oxaMain = reinterpret_cast<OxaMainFunction>(dlsym(driver, "OxaMain"));
  if (oxaMain == nullptr) return 1;

  static unsigned char block[kInstanceBlockSize];
  unsigned char params[20] = {};
  CommandBlock command;
  std::memset(&command, 0, sizeof command);
  command.instanceBlock.Set(reinterpret_cast<InstanceBlock *>(block));
  command.command.Set(1);
  command.params.Set(params);
  int rc = oxaMain(&command);

  bool ok = rc == 0 && linesSeen == 1 && lastLevel == 32 &&
            lastLine == "DEVADO> version compiled on Feb 15 2001 at time 15:56:03";
  std::printf("host err saw %d line(s), level %d: '%s'\n", linesSeen, lastLevel, lastLine.c_str());
  return ok ? 0 : 1;
}
