#pragma once

#include "contracts/command_block.h"

// Command 1: brings a driver instance up. With a run flag of 0 the host only installs
// the driver: the flag is recorded and nothing else happens.
int ColdStart(CommandBlock *command);
