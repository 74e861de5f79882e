#include "tags/tag_read_write.h"

#include <cstring>

#include "contracts/host_runtime.h"
#include "link/instance_state.h"

namespace {

constexpr int kTagAddressSize = 33;
constexpr int kGateValueMode = 16;

// The request's station, its address (cut to the working copy) and whether the station is
// connected. A station number beyond the table is never used as an index.
struct TagRequest {
  explicit TagRequest(CommandBlock *command) {
    auto *params = ParamsOf<ReadWriteParams>(command);
    block = command->instanceBlock.Get();
    if (params != nullptr) {
      station = params->station.Get();
      value = params->value.Get();
      const char *text = params->address.Get();
      if (text != nullptr) std::strncpy(address, text, kTagAddressSize - 1);
    }
    running = RunningInstance(block) != nullptr;
    connected =
        running && station < kStationCount && block->stations[station].socket.Load() != kNoSocket;
  }

  InstanceBlock *block = nullptr;
  int station = kStationCount;
  float *value = nullptr;
  char address[kTagAddressSize] = {};
  bool running = false;  // before cold start or after driver end the block holds nothing of ours
  bool connected = false;
};

int InstanceOf(const TagRequest &request) {
  return request.block != nullptr ? request.block->instanceNumber.Get() : 0;
}

// Logs why the request cannot be served (`what` names the command); false when it can.
bool Unserved(const TagRequest &request, const char *what) {
  if (!request.running) {
    err(kLogOperational, "DEVADO%d: %s refused. Tag '%s'. The driver is not running",
        InstanceOf(request), what, request.address);
    return true;
  }
  if (!request.connected) {
    err(kLogOperational, "DEVADO%d: %s failed. Tag '%s'. Socket not connected", InstanceOf(request),
        what, request.address);
    return true;
  }
  return false;
}

}  // namespace

int GetGateValFromDatabase(CommandBlock *command) {
  TagRequest request(command);
  if (request.block == nullptr) return 0;
  std::uint8_t client = request.block->clientId;
  int gateId = 0;
  std::uint16_t rc = HevGetGateIdByAddressStr(
      client, static_cast<std::uint8_t>(InstanceOf(request)), request.address, &gateId);
  if (rc == kHevNoSuchGate) {
    err(kLogOperational, "DEVADO: GetGateValFromDatabase() Tag %s not found in Database",
        request.address);
    return 0;
  }
  if (rc != kHevOk) {
    err(kLogOperational, "DEVADO: GetGateValFromDatabase() Failed to get gate ID Gate %s: rc = %d",
        request.address, rc);
    return 0;
  }
  double value = 0;
  std::uint32_t ignored1 = 0, ignored2 = 0;
  if (HevGetGateVal(client, kGateValueMode, gateId, &value, &ignored1, &ignored2) != kHevOk) {
    err(kLogOperational, "DEVADO: GetGateValFromDatabase() Failed to get gate val. GAS=%s",
        request.address);
    return 0;
  }
  if (request.value == nullptr) return 0;
  *request.value = static_cast<float>(value);
  return 1;
}

int SingleRead(CommandBlock *command) {
  TagRequest request(command);
  if (Unserved(request, "SingleRead()")) return 1;
  if (GetGateValFromDatabase(command) == 0) {
    err(kLogOperational, "DEVADO%d: SingleRead() failed. Tag '%s'", InstanceOf(request),
        request.address);
    return 1;
  }
  return 0;
}

int SingleReadCheck(CommandBlock *command) {
  TagRequest request(command);
  Unserved(request, "SingleRead()");
  return 1;
}

int SingleWrite(CommandBlock *command) {
  TagRequest request(command);
  if (Unserved(request, "SingleWrite()")) return kCommandRefused;
  return kCommandOk;
}

int BlockRead(CommandBlock *command) {
  TagRequest request(command);
  err(kLogOperational, "DEVADO%d: BlockRead() not supported. Tag '%s'", InstanceOf(request),
      request.address);
  return 1;
}
