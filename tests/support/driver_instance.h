// A driver instance driven through OxaMain as the host drives it, with the stand-in host
// runtime and simulated stations on loopback addresses: the road from cold start to
// driver end.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "hevpro/hevpro_control.h"
#include "sim/station.h"
#include "tests/support/driver_harness.h"
#include "tests/support/loopback.h"
#include "tests/support/work_directory.h"

namespace testing_support {

constexpr int kCommandColdStart = 1;
constexpr int kCommandWarmStart = 2;
constexpr int kCommandSingleParse = 3;
constexpr int kCommandBlockParse = 4;
constexpr int kCommandSingleRead = 5;
constexpr int kCommandSingleReadCheck = 6;
constexpr int kCommandSingleWrite = 7;
constexpr int kCommandBlockRead = 10;
constexpr int kCommandEndOxa = 11;

// "sssFcccc" and "sssAIR_FLOW".
std::string ChannelTag(int station, int channel);
std::string AirFlowTag(int station);

// A simulated station for a test, on the test's own address `n`, sampling every
// `periodMs` once the driver has configured it.
sim::Options StationOptions(int n, int periodMs = 200);

// How many sample point configurations (one per armed gate and connection) the station
// has received.
int ConfigurationsReceived(const sim::Station &station);

class DriverInstance {
 public:
  explicit DriverInstance(int instance = 1);
  ~DriverInstance();  // ends the driver if it still runs

  InstanceBlock *block() { return host_.get(); }
  int instance() const { return instance_; }

  // The init file: the update rate and each station's address, by station number.
  void WriteInitFile(int updateRate, const std::vector<std::pair<int, std::string>> &stations);
  // Shortens the thread start delay and the re-open thread's walk, so that a failed
  // station comes back within a second or so instead of half a minute.
  void UseShortReopenWalk();

  int ColdStart(std::int32_t runFlag = 1, std::int32_t timeoutCs = 50);
  int EndOxa();
  int WarmStart(int station);
  int Parse(const std::string &address, int gateId, int gateType, int *station = nullptr,
            int *channel = nullptr);
  int BlockParse(const std::string &address);
  int Read(int command, const std::string &address, int station, float *value = nullptr);

  // Gates of this instance in the stand-in host.
  void DefineGate(int gateId, const std::string &address, int type);
  static double GateValue(int gateId, unsigned *writes = nullptr);

  // The link status reports for a station, in order (1 failed, 0 restored).
  std::vector<int> StatusReports(int station) const;
  bool WaitForStatus(int station, const std::vector<int> &reports, int timeoutMs) const;

 private:
  int instance_;
  std::shared_ptr<WorkDirectory> directory_;  // shared by the instances alive at once
  HostBlock host_;
  bool running_ = false;
};

// Open descriptors and threads of this process, where the platform tells (Linux); -1
// elsewhere.
int OpenDescriptors();
int ThreadCount();

}  // namespace testing_support
