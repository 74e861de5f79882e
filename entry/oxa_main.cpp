#include "entry/oxa_main.h"

#include "entry/driver_info.h"
#include "entry/receive_timeout.h"
#include "lifecycle/cold_start.h"

namespace {

// Commands this driver does not have, or not yet: answered as unsupported.
int UnsupportedCommand(CommandBlock *) {
  return kCommandRefused;
}

constexpr CommandHandler kCommandTable[kCommandCount] = {
    nullptr,             // 0
    ColdStart,           // 1
    UnsupportedCommand,  // 2 warm start
    UnsupportedCommand,  // 3 single parse
    UnsupportedCommand,  // 4 block parse
    UnsupportedCommand,  // 5 single read
    UnsupportedCommand,  // 6 single read check
    UnsupportedCommand,  // 7 single write
    nullptr,             // 8
    nullptr,             // 9
    UnsupportedCommand,  // 10 block read
    UnsupportedCommand,  // 11 driver end
    UnsupportedCommand,  // 12
    UnsupportedCommand,  // 13
    DriverInfo,          // 14
    SetReceiveTimeout,   // 15
};

}  // namespace

CommandHandler FindCommandHandler(std::int32_t code) {
  if (code < 0 || code >= kCommandCount) return nullptr;
  return kCommandTable[code];
}

// The handler's result reaches the host unchanged. A code without a handler is refused
// with no effect; nothing, not even an exception, may escape into the host.
extern "C" int DEVADO_ENTRY OxaMain(void *commandBlock) {
  if (commandBlock == nullptr) return kCommandRefused;
  auto *command = static_cast<CommandBlock *>(commandBlock);
  CommandHandler handler = FindCommandHandler(command->command.Get());
  if (handler == nullptr) return kCommandRefused;
  try {
    return handler(command);
  } catch (...) {
    return kCommandRefused;
  }
}
