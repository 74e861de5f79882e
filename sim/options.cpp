// Names of the fault modes, the loopback check and the wait helper.
#include <chrono>
#include <thread>

#include "sim/station.h"

namespace sim {
namespace {

struct FaultEntry {
  FaultMode mode;
  const char *name;
};

constexpr FaultEntry kFaults[] = {
    {FaultMode::kNone, "none"},
    {FaultMode::kSilent, "silent"},
    {FaultMode::kCloseAfter, "close"},
    {FaultMode::kResetAfter, "reset"},
    {FaultMode::kGarbage, "garbage"},
    {FaultMode::kWrongMagic, "wrong-magic"},
    {FaultMode::kImpossibleLength, "bad-length"},
    {FaultMode::kSplit, "split"},
    {FaultMode::kBurst, "burst"},
    {FaultMode::kRefuse, "refuse"},
    {FaultMode::kLate, "late"},
};

// One decimal part of a dotted address: 1 to 3 digits, at most 255. Advances `at`.
bool TakeOctet(const std::string &text, std::size_t *at, int *value) {
  std::size_t start = *at;
  *value = 0;
  while (*at < text.size() && *at - start < 3 && text[*at] >= '0' && text[*at] <= '9') {
    *value = *value * 10 + (text[(*at)++] - '0');
  }
  return *at > start && *value <= 255;
}

}  // namespace

const char *FaultName(FaultMode mode) {
  for (const FaultEntry &entry : kFaults) {
    if (entry.mode == mode) return entry.name;
  }
  return "?";
}

bool ParseFaultMode(const std::string &name, FaultMode *mode) {
  for (const FaultEntry &entry : kFaults) {
    if (name == entry.name) {
      *mode = entry.mode;
      return true;
    }
  }
  return false;
}

bool IsLoopbackAddress(const std::string &address) {
  std::size_t at = 0;
  int first = 0;
  int part = 0;
  if (!TakeOctet(address, &at, &first)) return false;
  for (int i = 0; i < 3; ++i) {
    if (at >= address.size() || address[at++] != '.' || !TakeOctet(address, &at, &part)) {
      return false;
    }
  }
  return at == address.size() && first == 127;
}

bool WaitUntil(const std::function<bool()> &condition, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace sim
