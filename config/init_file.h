// The instance's init file "DEVADOnn.int" in the current directory: the station addresses
// and the update rate.
#pragma once

#include "contracts/instance_block.h"

// Reads the file into the block's update rate and station addresses, logging every
// setting and every rejected line. 1 when the file was read, 0 when it cannot be opened
// or read (a folder of that name, say; the block is then unchanged).
int ReadInitFile(InstanceBlock *block);

// 1 when the text is a station address that can be connected (four numbers 0..255
// separated by dots, nothing else), else 0.
int CheckIpAddress(const char *text);
