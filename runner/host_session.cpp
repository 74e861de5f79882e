#include "runner/host_session.h"

#include <cstring>

namespace {

constexpr std::int32_t kColdStart = 1;
constexpr std::int32_t kSingleParse = 3;
constexpr std::int32_t kEndOxa = 11;
constexpr std::int32_t kDriverInfo = 14;
constexpr std::int32_t kRunning = 1;  // the run flag: 0 would only install the driver

}  // namespace

int HostSession::Send(std::int32_t code, void *params) {
  CommandBlock command;
  std::memset(&command, 0, sizeof command);
  command.instanceBlock.Set(block_.empty() ? nullptr
                                           : reinterpret_cast<InstanceBlock *>(block_.data()));
  command.command.Set(code);
  command.instanceNumber.Set(static_cast<std::uint16_t>(instance_));
  command.params.Set(params);
  return driver_.Call(&command);
}

int HostSession::DriverInfo(DriverInfoRecord *record) {
  std::memset(record, 0, sizeof *record);
  int result = Send(kDriverInfo, record);
  if (result == kCommandOk && record->blockSize.Get() > 0) {
    block_.assign(static_cast<std::size_t>(record->blockSize.Get()), 0);
  }
  return result;
}

int HostSession::ColdStart(std::int32_t receiveTimeoutCs) {
  ColdStartParams params;
  std::memset(&params, 0, sizeof params);
  params.runFlag.Set(kRunning);
  params.receiveTimeoutCs.Set(receiveTimeoutCs);
  return Send(kColdStart, &params);
}

int HostSession::Parse(const std::string &address, int gateId, int gateType, ParseParams *result) {
  std::memset(result, 0, sizeof *result);
  result->address.Set(address.c_str());
  result->gateId.Set(gateId);
  result->gateType.Set(gateType);
  return Send(kSingleParse, result);
}

int HostSession::End() {
  return Send(kEndOxa, nullptr);
}
