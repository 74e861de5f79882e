#pragma once

#include "contracts/command_block.h"

// Command 2: closes one station's connection and connects it again at once, on the
// host's thread. 0 when the station is connected again, 1 when not (the re-open thread
// then takes it up).
int WarmStart(CommandBlock *command);
