// The gate calls: the driver's look-ups, reads and writes, and the control calls that
// build and inspect the tag database.
#include <chrono>
#include <cstring>
#include <thread>

#include "contracts/host_runtime.h"
#include "hevpro/gate_value.h"
#include "hevpro/no_throw.h"
#include "hevpro/runtime_state.h"

using namespace hevpro;

namespace {

constexpr int kDefinitionIdOffset = 0;
constexpr int kDefinitionTypeOffset = 4;
static_assert(kGateDefinitionAddressOffset + kMaxAddressLength + 1 <= kGateDefinitionSize,
              "the longest address and its NUL must fit the definition record");

bool IsAcceptableGate(int gateId, const char *address, int typeCode, int driverIndex) {
  if (gateId < 0 || gateId > kMaxGateId || address == nullptr) return false;
  std::size_t length = std::strlen(address);
  return length > 0 && length <= kMaxAddressLength && IsKnownGateType(typeCode) &&
         driverIndex >= 0 && driverIndex <= kMaxDriverIndex;
}

// The driver's buffers have no particular alignment.
void Store32(void *base, int offset, std::uint32_t value) {
  if (base != nullptr) std::memcpy(static_cast<unsigned char *>(base) + offset, &value, 4);
}

void FillDefinition(void *record, int gateId, const Gate &gate) {
  Store32(record, kDefinitionIdOffset, static_cast<std::uint32_t>(gateId));
  Store32(record, kDefinitionTypeOffset, static_cast<std::uint32_t>(gate.typeCode));
  Store32(record, kGateDefinitionDriverIndexOffset, static_cast<std::uint32_t>(gate.driverIndex));
  std::memcpy(static_cast<unsigned char *>(record) + kGateDefinitionAddressOffset,
              gate.address.c_str(), gate.address.size() + 1);
}

}  // namespace

extern "C" uint16_t HevGetGateIdByAddressStr(uint8_t clientId, uint8_t driver, const char *address,
                                             int *gateId) {
  if (address == nullptr || gateId == nullptr) return kHevBadArgument;
  return ResultOrFailure(kHevInternalFailure, [&]() -> std::uint16_t {
    RuntimeState &state = Runtime();
    std::lock_guard<std::mutex> guard(state.lock);
    if (!state.clients.Contains(clientId)) return kHevNoSuchClient;
    int found = state.gates.FindByAddress(static_cast<int>(driver) - 1, address);
    if (found < 0) return kHevNoSuchGate;
    *gateId = found;
    return kHevOk;
  });
}

extern "C" uint16_t HevGetGateVal(uint8_t clientId, int, int gateId, double *value, void *out1,
                                  void *out2) {
  if (value == nullptr) return kHevBadArgument;
  return ResultOrFailure(kHevInternalFailure, [&]() -> std::uint16_t {
    RuntimeState &state = Runtime();
    std::lock_guard<std::mutex> guard(state.lock);
    if (!state.clients.Contains(clientId)) return kHevNoSuchClient;
    const Gate *gate = state.gates.Find(gateId);
    if (gate == nullptr) return kHevNoSuchGate;
    *value = gate->value;
    Store32(out1, 0, gate->writeCount);
    Store32(out2, 0, 0);
    return kHevOk;
  });
}

extern "C" uint16_t HevPutGateVal(uint8_t clientId, int gateId, int, double value, int, int) {
  return ResultOrFailure(kHevInternalFailure, [&]() -> std::uint16_t {
    RuntimeState &state = Runtime();
    HevGateWriteObserver observer;
    void *context;
    double stored;
    {
      std::lock_guard<std::mutex> guard(state.lock);
      if (!state.clients.Contains(clientId)) return kHevNoSuchClient;
      Gate *gate = state.gates.Find(gateId);
      if (gate == nullptr) return kHevNoSuchGate;
      stored = gate->value = StoredGateValue(gate->typeCode, value);
      ++gate->writeCount;
      MarkChangedLocked(state);
      observer = state.onGateWrite;
      context = state.observerContext;
    }
    if (observer != nullptr) observer(context, gateId, stored);
    return kHevOk;
  });
}

// Definitions belong to the tag database, not to a client, so the client id is not
// checked. The record is zeroed whenever it is not null, also when there is no such
// gate, so that a caller never reads stale bytes.
extern "C" uint16_t HevGetGateDef(uint8_t, int gateId, void *definition328) {
  if (definition328 == nullptr) return kHevBadArgument;
  std::memset(definition328, 0, kGateDefinitionSize);
  return ResultOrFailure(kHevInternalFailure, [&]() -> std::uint16_t {
    RuntimeState &state = Runtime();
    int delayMs = 0;
    {
      std::lock_guard<std::mutex> guard(state.lock);
      ++state.gateDefCalls;
      delayMs = state.gateDefDelayMs;
      MarkChangedLocked(state);  // a test may wait for the count
    }
    if (delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    std::lock_guard<std::mutex> guard(state.lock);
    const Gate *gate = state.gates.Find(gateId);
    if (gate == nullptr) return kHevNoGateDefinition;
    FillDefinition(definition328, gateId, *gate);
    return kHevOk;
  });
}

extern "C" uint32_t HevCtlGateDefCalls(void) {
  return ResultOrFailure<uint32_t>(0, [] {
    RuntimeState &state = Runtime();
    std::lock_guard<std::mutex> guard(state.lock);
    return state.gateDefCalls;
  });
}

extern "C" int HevCtlSetGateDefDelay(int delayMs) {
  if (delayMs < 0 || delayMs > 10000) return kHevBadArgument;
  return ResultOrFailure<int>(kHevInternalFailure, [&] {
    RuntimeState &state = Runtime();
    std::lock_guard<std::mutex> guard(state.lock);
    state.gateDefDelayMs = delayMs;
    return 0;
  });
}

extern "C" int HevCtlDefineGate(int gateId, const char *address, int typeCode, int driverIndex) {
  if (!IsAcceptableGate(gateId, address, typeCode, driverIndex)) return kHevBadArgument;
  return ResultOrFailure<int>(kHevInternalFailure, [&] {
    Gate gate;
    gate.address = address;
    gate.typeCode = typeCode;
    gate.driverIndex = driverIndex;
    RuntimeState &state = Runtime();
    std::lock_guard<std::mutex> guard(state.lock);
    state.gates.Define(gateId, gate);
    MarkChangedLocked(state);
    return 0;
  });
}

extern "C" int HevCtlRemoveGate(int gateId) {
  return ResultOrFailure<int>(kHevInternalFailure, [&] {
    RuntimeState &state = Runtime();
    std::lock_guard<std::mutex> guard(state.lock);
    if (!state.gates.Remove(gateId)) return static_cast<int>(kHevNoSuchGate);
    MarkChangedLocked(state);
    return 0;
  });
}

extern "C" int HevCtlGateValue(int gateId, double *value, uint32_t *writeCount) {
  return ResultOrFailure<int>(kHevInternalFailure, [&] {
    RuntimeState &state = Runtime();
    std::lock_guard<std::mutex> guard(state.lock);
    const Gate *gate = state.gates.Find(gateId);
    if (gate == nullptr) return static_cast<int>(kHevNoSuchGate);
    if (value != nullptr) *value = gate->value;
    if (writeCount != nullptr) *writeCount = gate->writeCount;
    return 0;
  });
}

extern "C" int HevCtlSetGateValue(int gateId, double value) {
  return ResultOrFailure<int>(kHevInternalFailure, [&] {
    RuntimeState &state = Runtime();
    std::lock_guard<std::mutex> guard(state.lock);
    Gate *gate = state.gates.Find(gateId);
    if (gate == nullptr) return static_cast<int>(kHevNoSuchGate);
    gate->value = StoredGateValue(gate->typeCode, value);
    MarkChangedLocked(state);
    return 0;
  });
}
