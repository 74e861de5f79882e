#pragma once

#include "contracts/command_block.h"

// Command 11: the host's last command to an instance. Says goodbye to every connected
// station, releases what cold start acquired, and returns only once the driver's threads
// have ended: the host may free the instance block as soon as this returns.
int EndOxa(CommandBlock *command);
