// The driver's name and the banner that the host shows in its console when it loads the
// driver: constant data, valid for as long as the library is loaded.
#pragma once

#include <cstddef>

constexpr std::size_t kBannerLength = 373;

const char *DriverName();
// A box drawn in code page 437: a newline, then six lines of 61 bytes, each followed by
// a newline.
const char *Banner();
