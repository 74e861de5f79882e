#include "lifecycle/cold_start.h"

#include <cstdint>
#include <cstdio>

#include "config/init_file.h"
#include "contracts/host_runtime.h"
#include "lifecycle/instance_teardown.h"
#include "link/incoming_messages_thread.h"
#include "link/instance_state.h"
#include "link/sockets_reopen_thread.h"
#include "link/station_sockets.h"
#include "platform/winapi.h"

namespace {

constexpr unsigned kThreadStackSize = 32768;
constexpr int kClientNameSize = 20;

bool MakeClient(InstanceBlock *block, InstancePrivate &state) {
  char name[kClientNameSize] = {};
  std::snprintf(name, sizeof name, "DOV_DRIVER%02d", block->instanceNumber.Get());
  std::uint16_t rc = HevMkClient(name, 1, 0, &block->clientId);
  if (rc != 0) {
    err(kLogOperational, "DEVADO%.02d: ColdStart() Failed to make Client rc = %d",
        block->instanceNumber.Get(), rc);
    return false;
  }
  state.acquired.client = true;
  return true;
}

// The event exists before either thread starts, so that no thread ever waits on an
// event that is not there yet.
bool CreateSocketTableEvent(InstanceBlock *block, InstancePrivate &state) {
  win::HANDLE event = win::CreateEventA(nullptr, FALSE, TRUE, nullptr);
  if (event == nullptr) {
    err(kLogOperational, "OxaDOV%.02d: Failed to create 'WriteToSockArry' event !",
        block->instanceNumber.Get());
    return false;
  }
  block->socketTableEvent.Set(event);
  state.acquired.event = true;
  return true;
}

// Joinable threads: driver end waits for their real end before the host may unload us.
// Each thread gets a reference of its own to the state, never the block to look it up by.
bool StartThread(InstanceBlock *block, const std::shared_ptr<InstancePrivate> &state, int index,
                 unsigned(DEVADO_STDCALL *thread)(void *), const char *failure) {
  void *owner = ThreadArgumentFor(state);
  std::uintptr_t handle = win::_beginthreadex(nullptr, kThreadStackSize, thread, owner, 0, nullptr);
  if (handle == 0) {
    TakeThreadState(owner);  // the thread never came to take it
    err(kLogOperational, failure, block->instanceNumber.Get());
    return false;
  }
  state->threads[index] = reinterpret_cast<win::HANDLE>(handle);
  return true;
}

bool StartRunning(InstanceBlock *block, const std::shared_ptr<InstancePrivate> &state) {
  return CreateSocketTableEvent(block, *state) &&
         StartThread(block, state, 0, INCOMING_MESSAGES_Thread,
                     "OxaDOV%.02d: Failed to open thread INCOMING_MESSAGES thread!") &&
         StartThread(block, state, 1, SocketsReOpenThread,
                     "OxaDOV%.02d: Failed to open thread SocketsReOpenThread!");
}

// The host gives centiseconds; ten times a large value does not fit in 32 bits.
std::int32_t MillisecondsOf(std::int32_t centiseconds) {
  std::int64_t ms = static_cast<std::int64_t>(centiseconds) * 10;
  if (ms > INT32_MAX) return INT32_MAX;
  if (ms < INT32_MIN) return INT32_MIN;
  return static_cast<std::int32_t>(ms);
}

bool StartInstance(InstanceBlock *block, InstancePrivate &state, const ColdStartParams *params) {
  if (!MakeClient(block, state)) return false;
  ApplyDefaults(*block);
  state.acquired.defaults = true;
  if (ReadInitFile(block) == 0) {
    // The client goes again, so that the host can fix the file and start once more.
    ReleaseInstance(block, state, Leaving::kQuietly);
    return false;
  }
  block->receiveTimeoutMs.Set(MillisecondsOf(params->receiveTimeoutCs.Get()));
  InitDOV(block, state);  // stations that do not answer now are left to the re-open thread
  if (!StartRunning(block, FindPrivateState(block))) {
    // The driver is not running: whatever it started is stopped and released again,
    // without the goodbyes of a driver end.
    ReleaseInstance(block, state, Leaving::kQuietly);
    return false;
  }
  return true;
}

}  // namespace

int ColdStart(CommandBlock *command) {
  auto *params = ParamsOf<ColdStartParams>(command);
  InstanceBlock *block = command->instanceBlock.Get();
  if (params == nullptr || block == nullptr) return kCommandRefused;

  // A second start would leave the running threads beside new ones, fighting over the
  // stations, and a run flag of 0 would make the next driver end skip them: the running
  // instance is left exactly as it is.
  if (RunningInstance(block)) {
    err(kLogOperational,
        "DEVADO%.02d: ColdStart() refused: the driver is running already (EndOxa first)",
        block->instanceNumber.Get());
    return kCommandRefused;
  }
  err(kLogOperational, "DEVADO> version compiled on Feb 15 2001 at time 15:56:03");
  std::int32_t runFlag = params->runFlag.Get();
  block->started.Set(runFlag);
  if (runFlag == 0) return kCommandOk;

  block->instanceNumber.Set(command->instanceNumber.Get());
  InstancePrivate &state = RenewPrivateState(block);
  if (!StartInstance(block, state, params)) {
    state.phase = InstancePhase::kEnded;
    return kCommandRefused;
  }
  state.phase = InstancePhase::kRunning;
  return kCommandOk;
}
