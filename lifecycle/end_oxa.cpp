#include "lifecycle/end_oxa.h"

#include "entry/host_runtime.h"
#include "entry/instance_private.h"
#include "lifecycle/instance_teardown.h"

int EndOxa(CommandBlock *command) {
  InstanceBlock *block = command->instanceBlock.Get();
  err(kLogOperational, "DEVADO: Entering EndOxa()");
  if (block == nullptr) return kCommandOk;
  if (block->started.Get() == 0) {
    err(kLogOperational, "DEVADO: EndOxa() called during driver installation. returning NO_ERROR");
    return kCommandOk;
  }
  InstancePrivate &state = PrivateStateOf(block);
  bool threadsEnded = ReleaseInstance(block, state);
  err(kLogDetail, "OXAWNCNT: returning from EndOxa()");
  // A thread that did not end still looks at the private state, so that stays.
  if (threadsEnded) ReleasePrivateState(block);
  return kCommandOk;
}
