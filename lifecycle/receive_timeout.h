#pragma once

#include "contracts/command_block.h"

// Command 15: replaces the instance's receive time-out (milliseconds) with a nonzero
// value from the host; zero keeps the current one.
int SetReceiveTimeout(CommandBlock *command);
