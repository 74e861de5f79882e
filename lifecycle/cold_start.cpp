#include "lifecycle/cold_start.h"

#include "entry/host_runtime.h"

int ColdStart(CommandBlock *command) {
  auto *params = ParamsOf<ColdStartParams>(command);
  InstanceBlock *block = command->instanceBlock.Get();
  if (params == nullptr || block == nullptr) return kCommandRefused;

  err(kLogOperational, "DEVADO> version compiled on Feb 15 2001 at time 15:56:03");
  std::int32_t runFlag = params->runFlag.Get();
  block->started.Set(runFlag);
  if (runFlag == 0) return kCommandOk;

  // Running the driver needs the station links, which this build does not have yet.
  return kCommandRefused;
}
