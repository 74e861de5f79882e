// Validating the addresses of the host's tags.
//
// A channel tag is three digits (the station), the letter F, four digits (the channel
// from 0), such as 001F0003, defined as a float gate; its sampling is configured on the
// station at once and again after every reconnection. An air-flow tag is three digits and
// AIR_FLOW, such as 001AIR_FLOW, defined as a 16-bit gate.
#pragma once

#include "contracts/command_block.h"

// Command 3: 0 when the address is accepted, 1 when refused.
int SingleParse(CommandBlock *command);
// The channel-tag half of SingleParse: 0 or 1 likewise.
int ParseAddress(CommandBlock *command);
// Command 4: refused, always 1.
int BlockParse(CommandBlock *command);
