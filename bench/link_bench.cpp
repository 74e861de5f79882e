// The driver's threads at full load: 255 simulated stations (127.b.c.1 .. 127.b.c.255, with
// b and c drawn for each run, so that the bench meets no other program's listener),
// each pushing one sample per second. Prints, for one run on this machine:
// - the CPU time of the driver's two threads over a measured minute;
// - the latency from a station's send to the host's gate write (mean, p99);
// - how long a closed and a silent station take to be reported failed;
// - descriptors and threads after 100 failed connection attempts.
// Run: build/linux/bin/link_bench [measure-seconds [stations [station-poll-ms]]]
// (about five minutes with the defaults: 60 s, 255 stations, 100 ms)
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <dlfcn.h>
#include <unistd.h>

#include "entry/command_block.h"
#include "entry/host_runtime.h"
#include "link/instance_state.h"
#include "entry/oxa_main.h"
#include "hevpro/hevpro_control.h"
#include "link/station_sockets.h"
#include "sim/station.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kMaxStations = 255;
int stationCount = kMaxStations;  // the second argument may run fewer, to compare loads

// The host's view of time, recorded by the host calls below.
struct Observed {
  std::mutex lock;
  bool measuring = false;
  // While measuring: when each station sent a sample, and when its gate was written.
  std::vector<Clock::time_point> sent[kMaxStations + 1];
  std::vector<Clock::time_point> written[kMaxStations + 1];
  unsigned writes[kMaxStations + 1] = {};
  Clock::time_point lastSent[kMaxStations + 1];  // measuring or not
  Clock::time_point failed[kMaxStations + 1];
  bool failedSeen[kMaxStations + 1] = {};
  // While measuring: when each of the receiving thread's passes began, and when it began
  // to read a packet from each station.
  std::vector<Clock::time_point> passes;
  std::vector<Clock::time_point> reads[kMaxStations + 1];
} observed;

InstanceBlock *benchBlock = nullptr;
thread_local bool receivingThread = false;  // the thread that asks the host's wait call

int StationOfGate(int gateId) {
  return gateId;
}  // gate n belongs to station n

}  // namespace

// The bench plays the host: its own gate write and link status calls time what arrives.
extern "C" uint16_t HevPutGateVal(uint8_t, int gateId, int, double, int, int) {
  auto now = Clock::now();
  std::lock_guard<std::mutex> guard(observed.lock);
  int station = StationOfGate(gateId);
  if (station < 1 || station > stationCount) return 0;
  ++observed.writes[station];
  if (observed.measuring) observed.written[station].push_back(now);
  return 0;
}

// The receiving thread asks the host's wait call once per pass, just before the pass.
extern "C" uint16_t HevWaitMsg(uint8_t clientId, void *message24, int mode) {
  using WaitMsg = uint16_t (*)(uint8_t, void *, int);
  static auto host = reinterpret_cast<WaitMsg>(dlsym(RTLD_NEXT, "HevWaitMsg"));
  receivingThread = true;
  uint16_t result = host(clientId, message24, mode);
  auto now = Clock::now();
  std::lock_guard<std::mutex> guard(observed.lock);
  if (observed.measuring) observed.passes.push_back(now);
  return result;
}

// A read by the receiving thread: the pass has reached the station and found it readable.
extern "C" ssize_t recv(int fd, void *buffer, size_t length, int flags) {
  using Recv = ssize_t (*)(int, void *, size_t, int);
  static auto system = reinterpret_cast<Recv>(dlsym(RTLD_NEXT, "recv"));
  if (receivingThread && benchBlock != nullptr) {
    auto now = Clock::now();
    std::lock_guard<std::mutex> guard(observed.lock);
    for (int n = 1; observed.measuring && n <= stationCount; ++n) {
      if (benchBlock->stations[n].socket.Load() == fd) observed.reads[n].push_back(now);
    }
  }
  return system(fd, buffer, length, flags);
}

extern "C" uint16_t HevSetPlcCommStatus(uint8_t, uint8_t, int station, int, int status) {
  std::lock_guard<std::mutex> guard(observed.lock);
  if (status == 1 && station >= 1 && station <= stationCount && !observed.failedSeen[station]) {
    observed.failed[station] = Clock::now();
    observed.failedSeen[station] = true;
  }
  return 0;
}

namespace {

std::set<int> Threads() {
  std::set<int> ids;
  for (const auto &entry : std::filesystem::directory_iterator("/proc/self/task")) {
    ids.insert(std::stoi(entry.path().filename().string()));
  }
  return ids;
}

int Descriptors() {
  int count = 0;
  for (auto it = std::filesystem::directory_iterator("/proc/self/fd");
       it != std::filesystem::directory_iterator(); ++it) {
    ++count;
  }
  return count;
}

// The CPU time of one thread, in seconds (the scheduler's nanosecond count).
double ThreadCpuSeconds(int tid) {
  std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/schedstat");
  unsigned long long runNs = 0;
  stat >> runNs;
  return static_cast<double>(runNs) / 1e9;
}

double CpuOf(const std::vector<int> &threads) {
  double total = 0;
  for (int tid : threads) total += ThreadCpuSeconds(tid);
  return total;
}

int Send(InstanceBlock *block, int code, void *params) {
  CommandBlock command;
  std::memset(&command, 0, sizeof command);
  command.instanceBlock.Set(block);
  command.command.Set(code);
  command.instanceNumber.Set(1);
  command.params.Set(params);
  return OxaMain(&command);
}

std::string Address(int n) {
  static const unsigned draw = std::random_device{}();
  static const std::string network =
      "127." + std::to_string(1 + draw % 254) + "." + std::to_string(draw / 254 % 256) + ".";
  return network + std::to_string(n);
}

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// Each gate write belongs to the latest sample sent before it. The station logs a send
// only after the write returned, and the driver may have read the packet by then, so a
// send logged up to 2 ms after the gate write still counts as before it.
std::vector<double> Latencies(int stations) {
  std::vector<double> latencies;
  for (int n = 1; n <= stations; ++n) {
    const auto &sends = observed.sent[n];
    for (Clock::time_point write : observed.written[n]) {
      auto after =
          std::upper_bound(sends.begin(), sends.end(), write + std::chrono::milliseconds(2));
      if (after == sends.begin()) continue;  // sent before the measurement began
      latencies.push_back(std::max(0.0, Ms(write - *(after - 1))));
    }
  }
  std::sort(latencies.begin(), latencies.end());
  return latencies;
}

// From the latest of `starts` before each gate write (or from the sample's send, when that
// came later) to the write.
std::vector<double> SinceLatest(int stations, const std::vector<Clock::time_point> *starts,
                                bool perStation) {
  std::vector<double> spans;
  for (int n = 1; n <= stations; ++n) {
    const auto &sends = observed.sent[n];
    const auto &from = perStation ? starts[n] : starts[0];
    for (Clock::time_point write : observed.written[n]) {
      auto sent =
          std::upper_bound(sends.begin(), sends.end(), write + std::chrono::milliseconds(2));
      auto start = std::upper_bound(from.begin(), from.end(), write);
      if (sent == sends.begin() || start == from.begin()) continue;
      spans.push_back(std::max(0.0, Ms(write - std::max(*(sent - 1), *(start - 1)))));
    }
  }
  std::sort(spans.begin(), spans.end());
  return spans;
}

}  // namespace

int main(int argc, char **argv) {
  int measureSeconds = argc > 1 ? std::atoi(argv[1]) : 60;
  if (argc > 2) stationCount = std::max(3, std::min(kMaxStations, std::atoi(argv[2])));
  // 255 stations looking for work every 10 ms would load the two cores themselves.
  int pollMs = argc > 3 ? std::atoi(argv[3]) : 100;
  HevCtlLogOff();
  std::vector<std::unique_ptr<sim::Station>> stations(kMaxStations + 1);
  for (int n = 1; n <= stationCount; ++n) {
    sim::Options options;
    options.address = Address(n);
    options.samplePeriodMs = 1000;
    options.pollMs = pollMs;
    options.seed = static_cast<std::uint32_t>(n);
    // The station logs each sample right after writing it: that is the send time. Its
    // lines begin with its address.
    std::string sent = options.address + " sent ";
    options.log = [n, sent](const std::string &line) {
      if (line.rfind(sent, 0) == 0 && line != sent + "configuration information") {
        auto now = Clock::now();
        std::lock_guard<std::mutex> guard(observed.lock);
        observed.lastSent[n] = now;
        if (observed.measuring) observed.sent[n].push_back(now);
      }
    };
    stations[n] = std::make_unique<sim::Station>(options);
    if (!stations[n]->Start()) {
      std::fprintf(stderr, "cannot start the station at %s\n", Address(n).c_str());
      return 1;
    }
  }
  {
    std::ofstream init("DEVADO01.int");
    init << "UPDATE RATE = 1\n";
    for (int n = 1; n <= stationCount; ++n) init << n << " = " << Address(n) << "\n";
  }
  std::vector<unsigned char> memory(kInstanceBlockSize, 0);
  auto *block = reinterpret_cast<InstanceBlock *>(memory.data());
  benchBlock = block;
  std::set<int> before = Threads();
  unsigned char coldStart[20] = {};
  coldStart[12] = 1;
  std::printf("connecting %d stations (500 ms each)...\n", stationCount);
  auto connecting = Clock::now();
  if (Send(block, 1, coldStart) != 0) return 1;
  std::printf("cold start took %.1f s\n", Ms(Clock::now() - connecting) / 1000);
  std::vector<int> driverThreads;
  for (int tid : Threads()) {
    if (!before.count(tid)) driverThreads.push_back(tid);
  }
  for (int n = 1; n <= stationCount; ++n) {
    char tag[16];
    std::snprintf(tag, sizeof tag, "%03dF0000", n);
    HevCtlDefineGate(n, tag, kHevGateFloat, 0);
    ParseParams parse;
    std::memset(&parse, 0, sizeof parse);
    parse.address.Set(tag);
    parse.gateId.Set(n);
    parse.gateType.Set(3);
    Send(block, 3, &parse);
  }
  // Settle: every station's data flowing through the driver.
  bool settled = sim::WaitUntil(
      [&] {
        std::lock_guard<std::mutex> guard(observed.lock);
        for (int n = 1; n <= stationCount; ++n) {
          if (observed.writes[n] < 3) return false;
        }
        return true;
      },
      60000);
  if (!settled) {
    std::fprintf(stderr, "not every station's samples reach its gate; no measurement\n");
    Send(block, 11, nullptr);
    return 1;
  }

  // The measured minute: CPU of the driver's threads, and latency of every sample.
  std::vector<double> cpuEach;
  for (int tid : driverThreads) cpuEach.push_back(ThreadCpuSeconds(tid));
  double cpuBefore = CpuOf(driverThreads);
  {
    std::lock_guard<std::mutex> guard(observed.lock);
    observed.measuring = true;
  }
  std::this_thread::sleep_for(std::chrono::seconds(measureSeconds));
  std::vector<double> latencies, excess, walk;
  {
    std::lock_guard<std::mutex> guard(observed.lock);
    observed.measuring = false;
    latencies = Latencies(stationCount);
    excess = SinceLatest(stationCount, observed.reads, true);
    walk = SinceLatest(stationCount, &observed.passes, false);
  }
  double cpu = CpuOf(driverThreads) - cpuBefore;
  for (std::size_t i = 0; i < driverThreads.size(); ++i) {
    cpuEach[i] = ThreadCpuSeconds(driverThreads[i]) - cpuEach[i];
  }

  // 100 failed connection attempts against a refusing address.
  int descriptors = Descriptors();
  std::size_t threads = Threads().size();
  for (int i = 0; i < 100; ++i) {
    std::int32_t socket = kNoSocket;
    InitDOVCh(block, "127.0.1.1", &socket);  // nothing listens there
  }
  int descriptorsAfter = Descriptors();
  std::size_t threadsAfter = Threads().size();
  // Detection: a closed station, and a silent one.
  auto closedAt = Clock::now();
  stations[1]->DropConnection(false);
  sim::WaitUntil(
      [] {
        std::lock_guard<std::mutex> g(observed.lock);
        return observed.failedSeen[1];
      },
      20000);
  double closeToFailure = Ms(observed.failed[1] - closedAt);
  // A silence counts from the station's last sample.
  stations[2]->SetFault(sim::FaultMode::kSilent);
  sim::WaitUntil(
      [] {
        std::lock_guard<std::mutex> g(observed.lock);
        return observed.failedSeen[2];
      },
      20000);
  double silenceToFailure = Ms(observed.failed[2] - observed.lastSent[2]);

  Send(block, 11, nullptr);

  double mean = 0;
  for (double l : latencies) mean += l;
  mean = latencies.empty() ? 0 : mean / static_cast<double>(latencies.size());
  double p99 = latencies.empty() ? 0 : latencies[latencies.size() * 99 / 100];
  double corePercent = 100.0 * cpu / measureSeconds;
  std::printf(
      "driver threads: %zu; CPU over %d s: %.3f s = %.3f%% of one core in total, "
      "%.5f%% per station (target: at most 0.5%% in total)\n",
      driverThreads.size(), measureSeconds, cpu, corePercent, corePercent / stationCount);
  for (std::size_t i = 0; i < driverThreads.size(); ++i) {
    std::printf("  thread %zu (started %s): %.3f s\n", i + 1, i == 0 ? "first" : "second",
                cpuEach[i]);
  }
  auto at = [&](int percent) {
    return latencies.empty() ? 0.0 : latencies[latencies.size() * percent / 100];
  };
  std::printf(
      "push-to-gate latency over %zu samples: mean %.1f ms, p50 %.1f, p90 %.1f, "
      "p99 %.1f, max %.1f ms (target: p99 within 105 ms)\n",
      latencies.size(), mean, at(50), at(90), p99, latencies.empty() ? 0.0 : latencies.back());
  auto percentile = [](const std::vector<double> &v, int percent) {
    return v.empty() ? 0.0 : v[std::min(v.size() - 1, v.size() * percent / 100)];
  };
  std::printf(
      "beyond the wait for the pass to reach the station (read, decode, gate write): p50 %.3f "
      "ms, p99 %.3f ms, max %.3f ms (target: p99 under 1 ms)\n",
      percentile(excess, 50), percentile(excess, 99), excess.empty() ? 0.0 : excess.back());
  std::printf(
      "from the start of that pass (the stations before it included): p50 %.3f ms, p99 %.3f "
      "ms\n",
      percentile(walk, 50), percentile(walk, 99));
  std::printf("close to status 1: %.0f ms (target: under 200 ms)\n", closeToFailure);
  std::printf(
      "silence to status 1: %.0f ms from the last sample (more than 6 update periods of 1 s, "
      "under 8 s)\n",
      silenceToFailure);
  std::printf("after 100 failed connects: descriptors %d -> %d, threads %zu -> %zu\n", descriptors,
              descriptorsAfter, threads, threadsAfter);
  return 0;
}
