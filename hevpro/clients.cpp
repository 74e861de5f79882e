// Client registration and the message wait, the calls through which the driver tells
// the host that it runs and learns that it has to stop.
#include <cstring>
#include <string>

#include "contracts/host_runtime.h"
#include "hevpro/no_throw.h"
#include "hevpro/runtime_state.h"

using namespace hevpro;

namespace {

constexpr std::size_t kMessageSize = 24;

bool IsAcceptableName(const char *name) {
  if (name == nullptr) return false;
  std::size_t length = std::strlen(name);
  return length > 0 && length <= ClientTable::kMaxNameLength;
}

}  // namespace

extern "C" uint16_t HevMkClient(const char *name, int, int, uint8_t *clientId) {
  if (!IsAcceptableName(name) || clientId == nullptr) return kHevBadArgument;
  return ResultOrFailure(kHevInternalFailure, [&] {
    RuntimeState &state = Runtime();
    std::lock_guard<std::mutex> guard(state.lock);
    std::uint16_t result = state.clients.Add(name, clientId);
    if (result == kHevOk) MarkChangedLocked(state);
    return result;
  });
}

extern "C" uint16_t HevRmClient(uint8_t clientId) {
  return ResultOrFailure(kHevInternalFailure, [&]() -> std::uint16_t {
    RuntimeState &state = Runtime();
    std::lock_guard<std::mutex> guard(state.lock);
    if (!state.clients.Remove(clientId)) return kHevNoSuchClient;
    MarkChangedLocked(state);  // wakes the client's HevWaitMsg at once
    return kHevOk;
  });
}

// The mode is ignored: with no messages to deliver, every mode behaves alike.
extern "C" uint16_t HevWaitMsg(uint8_t clientId, void *message24, int) {
  if (message24 != nullptr) std::memset(message24, 0, kMessageSize);
  // Should the wait itself fail, keep the client's loop running: ending it would look
  // like a removal that never happened.
  return ResultOrFailure<std::uint16_t>(1, [&]() -> std::uint16_t {
    // There are no messages to deliver, so the call does not wait: a driver pauses
    // between its passes by itself, and a wait here would only stretch them.
    RuntimeState &state = Runtime();
    std::lock_guard<std::mutex> guard(state.lock);
    return state.clients.Registration(clientId) == 0 ? 0 : 1;
  });
}

extern "C" int HevCtlFindClient(const char *name, uint8_t *clientId) {
  if (name == nullptr || clientId == nullptr) return kHevBadArgument;
  return ResultOrFailure<int>(kHevInternalFailure, [&] {
    RuntimeState &state = Runtime();
    std::lock_guard<std::mutex> guard(state.lock);
    return state.clients.Find(name, clientId) ? 0 : static_cast<int>(kHevNoSuchClient);
  });
}

extern "C" int HevCtlClientCount(void) {
  return ResultOrFailure(0, [] {
    RuntimeState &state = Runtime();
    std::lock_guard<std::mutex> guard(state.lock);
    return state.clients.Count();
  });
}
