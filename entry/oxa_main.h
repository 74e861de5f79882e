// The driver's one exported function: the host delivers every command through it.
#pragma once

#include "contracts/command_block.h"
#include "platform/winapi.h"

constexpr int kCommandCount = 16;

using CommandHandler = int (*)(CommandBlock *command);

// The handler for a command code, or null for a code without one (0, 8, 9 and every
// code outside 0..15).
CommandHandler FindCommandHandler(std::int32_t code);

extern "C" int DEVADO_ENTRY OxaMain(void *commandBlock);
