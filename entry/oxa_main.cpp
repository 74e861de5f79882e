#include "entry/oxa_main.h"

#include "lifecycle/cold_start.h"
#include "lifecycle/driver_info.h"
#include "lifecycle/end_oxa.h"
#include "lifecycle/receive_timeout.h"
#include "lifecycle/warm_start.h"
#include "tags/tag_parse.h"
#include "tags/tag_read_write.h"

namespace {

// Commands 12 and 13 exist in the host's table but not in this driver.
int UnsupportedCommand(CommandBlock *) {
  return kCommandRefused;
}

constexpr CommandHandler kCommandTable[kCommandCount] = {
    nullptr,             // 0
    ColdStart,           // 1
    WarmStart,           // 2
    SingleParse,         // 3
    BlockParse,          // 4
    SingleRead,          // 5
    SingleReadCheck,     // 6
    SingleWrite,         // 7
    nullptr,             // 8
    nullptr,             // 9
    BlockRead,           // 10
    EndOxa,              // 11
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
