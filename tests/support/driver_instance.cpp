#include "tests/support/driver_instance.h"

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "countnet/codecs.h"
#include "link/instance_state.h"

namespace testing_support {

std::string ChannelTag(int station, int channel) {
  char tag[16];
  std::snprintf(tag, sizeof tag, "%03dF%04d", station, channel);
  return tag;
}

std::string AirFlowTag(int station) {
  char tag[16];
  std::snprintf(tag, sizeof tag, "%03dAIR_FLOW", station);
  return tag;
}

sim::Options StationOptions(int n, int periodMs) {
  sim::Options options;
  options.address = TestAddress(n);
  options.samplePeriodMs = periodMs;
  return options;
}

int ConfigurationsReceived(const sim::Station &station) {
  int count = 0;
  for (const sim::Packet &packet : station.Received()) {
    for (const sim::Message &message : packet.messages) {
      count += message.type == kMessageSamplePointConfig;
    }
  }
  return count;
}

namespace {

std::shared_ptr<WorkDirectory> SharedWorkDirectory() {
  static std::weak_ptr<WorkDirectory> current;
  std::shared_ptr<WorkDirectory> directory = current.lock();
  if (!directory) {
    directory = std::make_shared<WorkDirectory>();
    current = directory;
  }
  return directory;
}

}  // namespace

DriverInstance::DriverInstance(int instance)
    : instance_(instance), directory_(SharedWorkDirectory()), host_(0xA5) {}

DriverInstance::~DriverInstance() {
  if (running_) EndOxa();
}

void DriverInstance::WriteInitFile(int updateRate,
                                   const std::vector<std::pair<int, std::string>> &stations) {
  std::vector<std::string> lines{"UPDATE RATE = " + std::to_string(updateRate)};
  for (const auto &station : stations) {
    char line[64];
    std::snprintf(line, sizeof line, "%03d = %s", station.first, station.second.c_str());
    lines.push_back(line);
  }
  directory_->WriteInitFile(instance_, lines);
}

void DriverInstance::UseShortReopenWalk() {
  ThreadTiming &timing = PresetTiming(block());
  timing.startDelayMs = 200;
  timing.stopFlagDelayMs = 100;
  timing.reopenRetryMs = 100;
  timing.reopenLogEveryMs = 1000;
}

int DriverInstance::ColdStart(std::int32_t runFlag, std::int32_t timeoutCs) {
  unsigned char params[20] = {};
  std::memcpy(params + 12, &runFlag, 4);
  std::memcpy(params + 16, &timeoutCs, 4);
  int result = Send(block(), kCommandColdStart, params, static_cast<std::uint16_t>(instance_));
  running_ = result == 0 && runFlag != 0;
  return result;
}

int DriverInstance::EndOxa() {
  running_ = false;
  return Send(block(), kCommandEndOxa, nullptr);
}

int DriverInstance::WarmStart(int station) {
  unsigned char params[2];
  auto number = static_cast<std::uint16_t>(station);
  std::memcpy(params, &number, 2);
  return Send(block(), kCommandWarmStart, params);
}

int DriverInstance::Parse(const std::string &address, int gateId, int gateType, int *station,
                          int *channel) {
  ParseParams params;
  std::memset(&params, 0, sizeof params);
  params.address.Set(address.c_str());
  params.gateId.Set(gateId);
  params.gateType.Set(gateType);
  int result = Send(block(), kCommandSingleParse, &params);
  if (station != nullptr) *station = params.station.Get();
  if (channel != nullptr) *channel = params.channel.Get();
  return result;
}

int DriverInstance::BlockParse(const std::string &address) {
  ParseParams params;
  std::memset(&params, 0, sizeof params);
  params.address.Set(address.c_str());
  return Send(block(), kCommandBlockParse, &params);
}

int DriverInstance::Read(int command, const std::string &address, int station, float *value) {
  ReadWriteParams params;
  std::memset(&params, 0, sizeof params);
  params.address.Set(address.c_str());
  params.station.Set(static_cast<std::uint16_t>(station));
  params.value.Set(value);
  return Send(block(), command, &params);
}

void DriverInstance::DefineGate(int gateId, const std::string &address, int type) {
  HevCtlDefineGate(gateId, address.c_str(), type, instance_ - 1);
}

double DriverInstance::GateValue(int gateId, unsigned *writes) {
  double value = 0;
  std::uint32_t count = 0;
  HevCtlGateValue(gateId, &value, &count);
  if (writes != nullptr) *writes = count;
  return value;
}

std::vector<int> DriverInstance::StatusReports(int station) const {
  std::vector<int> reports;
  for (int i = 0, n = HevCtlCommStatusCount(); i < n; ++i) {
    HevCommStatusEvent event;
    if (HevCtlCommStatusAt(i, &event) == 0 && event.driver == instance_ &&
        event.station == station) {
      reports.push_back(event.status);
    }
  }
  return reports;
}

bool DriverInstance::WaitForStatus(int station, const std::vector<int> &reports,
                                   int timeoutMs) const {
  return HevWaitUntil([&] { return StatusReports(station) == reports; }, timeoutMs);
}

// Under Wine, /proc shows the emulator's descriptors rather than the program's.
int OpenDescriptors() {
#if defined(_WIN32)
  return -1;
#endif
  std::error_code error;
  if (!std::filesystem::exists("/proc/self/fd", error)) return -1;
  int count = 0;
  for (auto it = std::filesystem::directory_iterator("/proc/self/fd", error);
       !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
    ++count;
  }
  return count;
}

int ThreadCount() {
#if defined(_WIN32)
  return -1;
#endif
  std::error_code error;
  if (!std::filesystem::exists("/proc/self/task", error)) return -1;
  int count = 0;
  for (auto it = std::filesystem::directory_iterator("/proc/self/task", error);
       !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
    ++count;
  }
  return count;
}

}  // namespace testing_support
