#pragma once

#include "contracts/command_block.h"

// Command 14: tells the host the driver's name, banner and instance block size. Needs no
// instance block, so the host may call it before cold start.
int DriverInfo(CommandBlock *command);
