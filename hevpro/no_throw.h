// No C++ exception may reach the driver or any other C caller: every exported call runs
// its body through one of these. In practice the only exception is std::bad_alloc.
#pragma once

#include <cstdint>

namespace hevpro {

// Result of a host or control call whose body failed on an exception; the callers treat
// every nonzero result as a failure.
constexpr std::uint16_t kHevInternalFailure = 1;

template <typename Result, typename Body>
Result ResultOrFailure(Result failure, Body body) noexcept {
  try {
    return body();
  } catch (...) {
    return failure;
  }
}

template <typename Body>
void IgnoringFailure(Body body) noexcept {
  try {
    body();
  } catch (...) {
  }
}

}  // namespace hevpro
