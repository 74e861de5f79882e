#pragma once

#include <mutex>

namespace win {

// No checker on Windows needs to be told: the standard mutex as it is.
using Lock = std::mutex;

}  // namespace win
