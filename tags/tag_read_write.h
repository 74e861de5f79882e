// The host's per-tag data commands. Stations push their samples, so a read is answered
// from the host's own database, and a write is accepted without sending anything.
#pragma once

#include "contracts/command_block.h"

// Command 5: the gate's current value, as a float, when the tag's station is connected.
int SingleRead(CommandBlock *command);
// 1 when the value was stored in the parameter block, 0 on failure.
int GetGateValFromDatabase(CommandBlock *command);
// Command 6: only reports a missing connection; always 1.
int SingleReadCheck(CommandBlock *command);
// Command 7: 0, or 2 when the tag's station is not connected.
int SingleWrite(CommandBlock *command);
// Command 10: refused, always 1.
int BlockRead(CommandBlock *command);
