#pragma once

#include <string>

// Text in code page 437 (the driver's banner) as UTF-8, for today's terminals.
std::string Cp437ToUtf8(const std::string &text);
