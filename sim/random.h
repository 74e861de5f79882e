// A small seeded generator (splitmix64) whose sequence is the same on every platform and
// compiler, unlike the standard library's distributions: a seed reproduces a station's
// samples and garbage bytes exactly, on Linux and under Wine alike.
#pragma once

#include <cstdint>

namespace sim {

class Random {
 public:
  explicit Random(std::uint32_t seed, std::uint32_t stream = 0)
      : state_(static_cast<std::uint64_t>(seed) << 32 | stream) {}

  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // A value in 0..limit-1 (limit > 0).
  std::uint32_t Below(std::uint32_t limit) { return static_cast<std::uint32_t>(Next() % limit); }

 private:
  std::uint64_t state_;
};

}  // namespace sim
