// The one rule for a station's address, used both where the init file is read and where
// a connection is made, so that an address the init file accepts can always be connected.
#pragma once

#include <cstdint>

// Four decimal numbers 0..255 of one to three digits, separated by dots, with nothing
// before or after them. 255.255.255.255 is refused: it is the broadcast address. True
// with the address in network byte order in *networkOrder (when given).
bool ParseStationAddress(const char *text, std::uint32_t *networkOrder = nullptr);
