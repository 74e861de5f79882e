// Loads the driver with dlopen from a program that links nothing of the host runtime,
// the way a host loads it, and makes it log. Were the driver's log call bound to the C
// library's err() (same name, prints and exits), this process would end at that line.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "contracts/command_block.h"

namespace {

using OxaMainFunction = int(__attribute__((stdcall)) *)(void *);

// Runs the installation-time cold start, which logs one line, with standard error sent
// to a temporary file; returns what was written there.
std::string ColdStartOutput(OxaMainFunction oxaMain) {
  std::FILE *capture = std::tmpfile();
  int savedStderr = dup(2);
  dup2(fileno(capture), 2);

  static unsigned char block[kInstanceBlockSize];
  unsigned char params[20] = {};
  CommandBlock command;
  std::memset(&command, 0, sizeof command);
  command.instanceBlock.Set(reinterpret_cast<InstanceBlock *>(block));
  command.command.Set(1);
  command.params.Set(params);
  int rc = oxaMain(&command);

  std::fflush(stderr);
  dup2(savedStderr, 2);
  close(savedStderr);
  std::string text(4096, '\0');
  std::rewind(capture);
  text.resize(std::fread(&text[0], 1, text.size(), capture));
  std::fclose(capture);
  std::printf("cold start answered %d\n", rc);
  return text;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: dlopen_probe <driver library>\n");
    return 2;
  }
  void *driver = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (driver == nullptr) {
    std::printf("dlopen failed: %s\n", dlerror());
    return 1;
  }
  auto oxaMain = reinterpret_cast<OxaMainFunction>(dlsym(driver, "OxaMain"));
  if (oxaMain == nullptr) {
    std::printf("no OxaMain\n");
    return 1;
  }
  std::string output = ColdStartOutput(oxaMain);
  bool logged = output.find("DEVADO> version compiled on Feb 15 2001") != std::string::npos;
  std::printf("log line %s; process alive\n", logged ? "arrived" : "missing");
  return logged ? 0 : 1;
}
