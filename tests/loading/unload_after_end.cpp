// A host unloads the driver the moment driver end returns. Nothing of the driver may run
// by then: were a thread still inside the library, it would run on in unmapped code.
// Loads the driver, starts an instance (its threads run), ends it, unloads the library at
// once and checks that the library is gone and no thread of it is left.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "contracts/command_block.h"
#include "platform/winapi.h"

#if defined(_WIN32)
#else
#include <dlfcn.h>

#include <filesystem>
#endif

namespace {

using OxaMainFunction = int(DEVADO_STDCALL *)(void *);

int Send(OxaMainFunction oxaMain, InstanceBlock *block, std::int32_t code, void *params) {
  CommandBlock command;
  std::memset(&command, 0, sizeof command);
  command.instanceBlock.Set(block);
  command.command.Set(code);
  command.instanceNumber.Set(1);
  command.params.Set(params);
  return oxaMain(&command);
}

// The threads of this process, where the platform tells; -1 elsewhere.
int ThreadCount() {
#if defined(_WIN32)
  return -1;
#else
  int count = 0;
  for (const auto &entry : std::filesystem::directory_iterator("/proc/self/task")) {
    (void)entry;
    ++count;
  }
  return count;
#endif
}

bool StillLoaded(const char *path) {
#if defined(_WIN32)
  (void)path;
  return GetModuleHandleA("devado.dll") != nullptr;
#else
  void *handle = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
  if (handle != nullptr) dlclose(handle);
  return handle != nullptr;
#endif
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: unload_after_end <driver library>\n");
    return 2;
  }
  std::ofstream("DEVADO01.int") << "UPDATE RATE = 1\n001 = 127.0.0.1\n";
  int threads = ThreadCount();
  win::HMODULE driver = win::LoadLibraryA(argv[1]);
  if (driver == nullptr) {
    std::printf("the driver does not load\n");
    return 1;
  }
  // A generic function pointer converts to the entry's real type through void (*)().
  auto generic = reinterpret_cast<void (*)()>(win::GetProcAddress(driver, "OxaMain"));
  auto oxaMain = reinterpret_cast<OxaMainFunction>(generic);
  static unsigned char block[kInstanceBlockSize];
  auto *instance = reinterpret_cast<InstanceBlock *>(block);
  unsigned char start[20] = {};
  start[12] = 1;  // run flag
  int started = oxaMain != nullptr ? Send(oxaMain, instance, 1, start) : -1;
  int ended = oxaMain != nullptr ? Send(oxaMain, instance, 11, nullptr) : -1;
  win::FreeLibrary(driver);
  bool loaded = StillLoaded(argv[1]);
  int left = ThreadCount();
  std::printf("cold start %d, driver end %d, library %s, threads %d before and %d after\n", started,
              ended, loaded ? "still loaded" : "unloaded", threads, left);
  return started == 0 && ended == 0 && !loaded && left == threads ? 0 : 1;
}
