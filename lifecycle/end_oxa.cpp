#include "lifecycle/end_oxa.h"

#include "contracts/host_runtime.h"
#include "lifecycle/instance_teardown.h"
#include "link/instance_state.h"

int EndOxa(CommandBlock *command) {
  InstanceBlock *block = command->instanceBlock.Get();
  err(kLogOperational, "DEVADO: Entering EndOxa()");
  if (block == nullptr) return kCommandOk;
  if (block->started.Get() == 0) {
    err(kLogOperational, "DEVADO: EndOxa() called during driver installation. returning NO_ERROR");
    return kCommandOk;
  }
  // An instance that is not running (its cold start failed, or it ended already) has
  // nothing left to release.
  if (std::shared_ptr<InstancePrivate> state = RunningInstance(block)) {
    state->phase = InstancePhase::kEnding;
    ReleaseInstance(block, *state);
    state->phase = InstancePhase::kEnded;
  }
  err(kLogDetail, "OXAWNCNT: returning from EndOxa()");
  // A thread that did not end keeps its own share of the private state.
  ReleasePrivateState(block);
  return kCommandOk;
}
