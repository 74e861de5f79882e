// The host's side of the command interface: the instance block that the host owns and
// the command blocks it passes to OxaMain, one method per command the runner gives.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "contracts/command_block.h"
#include "runner/driver_library.h"

class HostSession {
 public:
  HostSession(const DriverLibrary &driver, int instance) : driver_(driver), instance_(instance) {}

  // Command 14. On success the instance block is allocated with the size it reports.
  int DriverInfo(DriverInfoRecord *record);
  // Command 1, for running (not installing) the driver.
  int ColdStart(std::int32_t receiveTimeoutCs);
  // Command 3; `result` receives the parameter block with the driver's outputs.
  int Parse(const std::string &address, int gateId, int gateType, ParseParams *result);
  // Command 11.
  int End();

 private:
  int Send(std::int32_t code, void *params);

  const DriverLibrary &driver_;
  int instance_;
  std::vector<unsigned char> block_;
};
