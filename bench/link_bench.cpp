// The driver's threads at full load: 255 simulated stations (127.b.c.1 .. 127.b.c.255, with
// b and c drawn for each run, so that the bench meets no other program's listener),
// each pushing one sample per second. Prints, for one run on this machine:
// - cold start with every station answering, and with every station silent;
// - the CPU time of the driver's two threads over a measured minute;
// - the latency from a station's send to the host's gate write (p50, p99);
// - how long a burst of 100 packets from one station takes to reach the gates;
// - how long a closed and a silent station take to be reported failed;
// - descriptors and threads after 100 failed connection attempts and 100 warm starts.
// It drives the driver through OxaMain alone, so that the same source measures an older
// build of the driver too.
// Run: build/linux/bin/link_bench [measure-seconds [stations [station-poll-ms]]]
// (about two minutes with the defaults: 60 s, 255 stations, 100 ms)
//
// `link_bench recovery [measure-seconds]` measures instead how the link comes back after
// faults, with 255 stations whose connects never complete while they are away (as behind
// a router that drops packets):
// - a site-wide outage: all away from cold start, then after 20 s stations 51..255 back
//   (1..50 stay away): the time to each one's first gate write (first, median, last);
// - one station failing (its connection reset) beside the 50 unreachable ones, five times;
// - the CPU of both driver threads while the 50 stay away and the rest stream, with the
//   host's log off as in the steady-state figure;
// - the log lines an unreachable station costs per hour, and the shortest time between
//   two of them.
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

#include "contracts/command_block.h"
#include "contracts/host_runtime.h"
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
  // The station of each socket, taken when the measurement starts (the links are steady
  // then), so that timing a read costs the driver's thread next to nothing.
  std::vector<int> stationOfSocket;
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
    const std::vector<int> &stationOf = observed.stationOfSocket;
    if (observed.measuring && fd >= 0 && static_cast<std::size_t>(fd) < stationOf.size() &&
        stationOf[fd] > 0) {
      observed.reads[stationOf[fd]].push_back(now);
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

namespace {

struct Figures {
  double coldStartAnswering = 0, coldStartSilent = 0;
  double cpu = 0, cpuPercent = 0;
  std::vector<double> cpuEach, latencies, excess, walk;
  double burstDrain = -1;
  int descriptors = 0, descriptorsAfterConnects = 0, descriptorsAfterWarmStarts = 0;
  std::size_t threads = 0, threadsAfterConnects = 0, threadsAfterWarmStarts = 0;
  double closeToFailure = 0, silenceToFailure = 0;
};

double ColdStart(InstanceBlock *block) {
  unsigned char coldStart[20] = {};
  coldStart[12] = 1;
  auto start = Clock::now();
  if (Send(block, 1, coldStart) != 0) return -1;
  return Ms(Clock::now() - start);
}

void ArmEveryStation(InstanceBlock *block) {
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
}

unsigned WritesOf(int station) {
  std::lock_guard<std::mutex> guard(observed.lock);
  return observed.writes[station];
}

bool EveryStationFlows() {
  return sim::WaitUntil(
      [&] {
        for (int n = 1; n <= stationCount; ++n) {
          if (WritesOf(n) < 3) return false;
        }
        return true;
      },
      60000);
}

void MeasureSteadyState(const std::vector<int> &driverThreads, int seconds, Figures *f) {
  for (int tid : driverThreads) f->cpuEach.push_back(ThreadCpuSeconds(tid));
  double cpuBefore = CpuOf(driverThreads);
  {
    std::lock_guard<std::mutex> guard(observed.lock);
    for (int n = 1; n <= stationCount; ++n) {
      int socket = benchBlock->stations[n].socket.Load();
      if (socket < 0) continue;
      if (observed.stationOfSocket.size() <= static_cast<std::size_t>(socket)) {
        observed.stationOfSocket.resize(socket + 1, 0);
      }
      observed.stationOfSocket[socket] = n;
    }
    observed.measuring = true;
  }
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  {
    std::lock_guard<std::mutex> guard(observed.lock);
    observed.measuring = false;
    f->latencies = Latencies(stationCount);
    f->excess = SinceLatest(stationCount, observed.reads, true);
    f->walk = SinceLatest(stationCount, &observed.passes, false);
  }
  f->cpu = CpuOf(driverThreads) - cpuBefore;
  f->cpuPercent = 100.0 * f->cpu / seconds;
  for (std::size_t i = 0; i < driverThreads.size(); ++i) {
    f->cpuEach[i] = ThreadCpuSeconds(driverThreads[i]) - f->cpuEach[i];
  }
}

// One station writes 100 sample packets at once: from that write to the last of them
// reaching its gate (polled every 5 ms).
void MeasureBurst(sim::Station &station, int n, Figures *f) {
  int sentBefore = station.SamplesSent();
  unsigned before = WritesOf(n);
  station.SetFault(sim::FaultMode::kBurst, 100);
  bool burst = sim::WaitUntil([&] { return station.SamplesSent() >= sentBefore + 100; }, 30000);
  auto written = Clock::now();
  station.SetFault(sim::FaultMode::kNone);
  if (!burst) return;
  auto target = static_cast<unsigned>(station.SamplesSent() - sentBefore);
  if (sim::WaitUntil([&] { return WritesOf(n) - before >= target; }, 30000)) {
    f->burstDrain = Ms(Clock::now() - written);
  }
}

void MeasureRepeatedConnects(InstanceBlock *block, Figures *f) {
  f->descriptors = Descriptors();
  f->threads = Threads().size();
  for (int i = 0; i < 100; ++i) {
    std::int32_t socket = kNoSocket;
    InitDOVCh(block, "127.0.1.1", &socket);  // nothing listens there
  }
  f->descriptorsAfterConnects = Descriptors();
  f->threadsAfterConnects = Threads().size();
  for (int i = 0; i < 100; ++i) {
    unsigned char warm[2] = {4, 0};  // station 4
    Send(block, 2, warm);
  }
  // The connections that warm starts replaced are closed by the driver's receiving thread.
  sim::WaitUntil([&] { return Descriptors() <= f->descriptors; }, 5000);
  f->descriptorsAfterWarmStarts = Descriptors();
  f->threadsAfterWarmStarts = Threads().size();
}

void MeasureDetection(std::vector<std::unique_ptr<sim::Station>> &stations, Figures *f) {
  auto closedAt = Clock::now();
  stations[1]->DropConnection(false);
  auto failed = [](int n) {
    return [n] {
      std::lock_guard<std::mutex> g(observed.lock);
      return observed.failedSeen[n];
    };
  };
  sim::WaitUntil(failed(1), 20000);
  f->closeToFailure = Ms(observed.failed[1] - closedAt);
  // A silence counts from the station's last sample.
  stations[2]->SetFault(sim::FaultMode::kSilent);
  sim::WaitUntil(failed(2), 20000);
  f->silenceToFailure = Ms(observed.failed[2] - observed.lastSent[2]);
}

double Percentile(const std::vector<double> &v, int percent) {
  return v.empty() ? 0.0 : v[std::min(v.size() - 1, v.size() * percent / 100)];
}

void Print(const Figures &f, int seconds, std::size_t driverThreads) {
  std::printf(
      "cold start with %d stations: %.0f ms all answering, %.0f ms all silent (target: "
      "at most 1.5 s)\n",
      stationCount, f.coldStartAnswering, f.coldStartSilent);
  std::printf(
      "driver threads: %zu; CPU over %d s: %.3f s = %.3f%% of one core in total, "
      "%.5f%% per station (target: at most 0.25%%)\n",
      driverThreads, seconds, f.cpu, f.cpuPercent, f.cpuPercent / stationCount);
  for (std::size_t i = 0; i < f.cpuEach.size(); ++i) {
    std::printf("  thread %zu (started %s): %.3f s\n", i + 1, i == 0 ? "first" : "second",
                f.cpuEach[i]);
  }
  std::printf(
      "push-to-gate latency over %zu samples: p50 %.1f ms, p90 %.1f, p99 %.1f, max %.1f "
      "ms (target: p99 within 105 ms)\n",
      f.latencies.size(), Percentile(f.latencies, 50), Percentile(f.latencies, 90),
      Percentile(f.latencies, 99), f.latencies.empty() ? 0.0 : f.latencies.back());
  std::printf(
      "beyond the wait for the pass to reach the station (read, decode, gate write): "
      "p50 %.3f ms, p99 %.3f ms\n",
      Percentile(f.excess, 50), Percentile(f.excess, 99));
  std::printf("from the start of that pass: p50 %.3f ms, p99 %.3f ms\n", Percentile(f.walk, 50),
              Percentile(f.walk, 99));
  if (f.burstDrain < 0) {
    std::printf("burst of 100 packets: not all reached the gate within 30 s\n");
  } else {
    std::printf(
        "burst of 100 packets: %.0f ms from its write to the last gate write (target: "
        "within two passes of 100 ms)\n",
        f.burstDrain);
  }
  std::printf("close to status 1: %.0f ms (target: under 200 ms)\n", f.closeToFailure);
  std::printf(
      "silence to status 1: %.0f ms from the last sample (6 update periods of 1 s; "
      "target: within 100 ms after them)\n",
      f.silenceToFailure);
  std::printf(
      "descriptors %d -> %d after 100 failed connects -> %d after 100 warm starts; "
      "threads %zu -> %zu -> %zu\n",
      f.descriptors, f.descriptorsAfterConnects, f.descriptorsAfterWarmStarts, f.threads,
      f.threadsAfterConnects, f.threadsAfterWarmStarts);
}

// The init file: update rate 1 s, every station at its address.
void WriteInitFile() {
  std::ofstream init("DEVADO01.int");
  init << "UPDATE RATE = 1\n";
  for (int n = 1; n <= stationCount; ++n) init << n << " = " << Address(n) << "\n";
}

// The threads that were not there `before`: the driver's, right after its cold start.
std::vector<int> ThreadsSince(const std::set<int> &before) {
  std::vector<int> started;
  for (int tid : Threads()) {
    if (!before.count(tid)) started.push_back(tid);
  }
  return started;
}

std::vector<std::unique_ptr<sim::Station>> StartStations(int pollMs) {
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
      stations.clear();
      break;
    }
  }
  return stations;
}

// Cold start of a second instance while every station lets connects hang unanswered.
double ColdStartWithSilentStations(std::vector<std::unique_ptr<sim::Station>> &stations) {
  for (int n = 1; n <= stationCount; ++n) stations[n]->SetFault(sim::FaultMode::kLate);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the listeners switch over
  std::vector<unsigned char> memory(kInstanceBlockSize, 0);
  auto *block = reinterpret_cast<InstanceBlock *>(memory.data());
  double ms = ColdStart(block);
  Send(block, 11, nullptr);
  return ms;
}

}  // namespace

namespace {

// ---- recovery after faults ----

constexpr int kStaysAway = 50;  // stations 1..50 never come back

// When each station's "reconnecting" lines reached the host's log.
std::mutex attemptLock;
std::vector<Clock::time_point> attemptTimes[kMaxStations + 1];

void CountAttemptLines(void *, int, const char *line) {
  int station = 0;
  if (std::sscanf(line, "OxaDOV%*d: SocketsReOpenThread() reconnecting PLC %d", &station) == 1 &&
      station >= 1 && station <= kMaxStations) {
    std::lock_guard<std::mutex> guard(attemptLock);
    attemptTimes[station].push_back(Clock::now());
  }
}

// The attempt lines of the stations that stay away over `seconds`: how many, and the
// shortest time between two lines of one station.
void MeasureAttemptLines(int seconds) {
  {
    std::lock_guard<std::mutex> guard(attemptLock);
    for (auto &times : attemptTimes) times.clear();
  }
  HevCtlLogToCallback(CountAttemptLines, nullptr);
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  HevCtlLogOff();
  std::lock_guard<std::mutex> guard(attemptLock);
  std::size_t lines = 0;
  double shortest = -1;
  for (int n = 1; n <= kStaysAway; ++n) {
    const std::vector<Clock::time_point> &times = attemptTimes[n];
    lines += times.size();
    for (std::size_t i = 1; i < times.size(); ++i) {
      double gap = Ms(times[i] - times[i - 1]) / 1000;
      if (shortest < 0 || gap < shortest) shortest = gap;
    }
  }
  std::printf(
      "attempts logged per unreachable station: %.1f per hour (%zu lines of 'reconnecting' for "
      "50 stations in %d s), the shortest time between two of one station: %.1f s (target: at "
      "least 26.6 s)\n",
      3600.0 * static_cast<double>(lines) / kStaysAway / seconds, lines, seconds, shortest);
}

// Seconds from `from` until each of the stations' gates is written once more.
std::vector<double> TimesToData(const std::vector<int> &stations, Clock::time_point from) {
  std::vector<unsigned> base;
  for (int n : stations) base.push_back(WritesOf(n));
  std::vector<double> times(stations.size(), -1);
  std::size_t left = stations.size();
  while (left > 0 && Clock::now() - from < std::chrono::seconds(120)) {
    for (std::size_t i = 0; i < stations.size(); ++i) {
      if (times[i] < 0 && WritesOf(stations[i]) > base[i]) {
        times[i] = Ms(Clock::now() - from) / 1000;
        --left;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return times;
}

void PrintSpread(const char *what, std::vector<double> times, const char *target) {
  std::sort(times.begin(), times.end());
  if (times.empty() || times.front() < 0) {
    std::printf("%s: not every station delivered within 120 s\n", what);
    return;
  }
  std::printf("%s: first %.2f s, median %.2f s, last %.2f s (%s)\n", what, times.front(),
              times[times.size() / 2], times.back(), target);
}

int RunRecovery(int measureSeconds) {
  stationCount = kMaxStations;
  HevCtlLogToCallback(CountAttemptLines, nullptr);
  std::vector<std::unique_ptr<sim::Station>> stations = StartStations(100);
  if (stations.empty()) return 1;
  for (int n = 1; n <= stationCount; ++n) stations[n]->SetFault(sim::FaultMode::kLate);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the listeners switch over
  WriteInitFile();
  std::vector<unsigned char> memory(kInstanceBlockSize, 0);
  auto *block = reinterpret_cast<InstanceBlock *>(memory.data());
  benchBlock = block;
  std::set<int> before = Threads();
  std::printf("cold start with all %d stations away...\n", stationCount);
  if (ColdStart(block) < 0) return 1;
  std::vector<int> driverThreads = ThreadsSince(before);
  ArmEveryStation(block);
  std::this_thread::sleep_for(std::chrono::seconds(20));
  std::vector<int> back;
  for (int n = kStaysAway + 1; n <= stationCount; ++n) back.push_back(n);
  for (int n : back) stations[n]->SetFault(sim::FaultMode::kNone);
  PrintSpread("site-wide outage, 205 stations back after 20 s, 50 stay away; to data",
              TimesToData(back, Clock::now()), "target: last within 2 s");

  std::vector<double> single;
  for (int n : {60, 100, 150, 200, 255}) {
    sim::WaitUntil([&] { return stations[n]->IsConnected(); }, 10000);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    stations[n]->DropConnection(true);
    std::vector<double> t = TimesToData({n}, Clock::now());
    single.push_back(t[0]);
  }
  PrintSpread("one station reset beside the 50 unreachable ones, 5 times; to data", single,
              "target: within 2 s");

  // The CPU is taken with the host's log off, as in the steady-state figure: with a log,
  // the host formats a detail line per channel and sample on the receiving thread, which
  // would be counted as the driver's.
  HevCtlLogOff();
  std::vector<double> each;
  for (int tid : driverThreads) each.push_back(ThreadCpuSeconds(tid));
  double cpuBefore = CpuOf(driverThreads);
  std::this_thread::sleep_for(std::chrono::seconds(measureSeconds));
  double cpu = CpuOf(driverThreads) - cpuBefore;
  std::printf(
      "both driver threads over %d s with 50 stations away and 205 streaming, the host's log "
      "off: %.3f s = %.3f%% of one core (target: at most 0.25%%)\n",
      measureSeconds, cpu, 100.0 * cpu / measureSeconds);
  for (std::size_t i = 0; i < driverThreads.size(); ++i) {
    std::printf("  thread %zu (started %s): %.3f s\n", i + 1, i == 0 ? "first" : "second",
                ThreadCpuSeconds(driverThreads[i]) - each[i]);
  }
  // Long enough for three of one station's lines at the allowed pace.
  MeasureAttemptLines(std::max(measureSeconds, 60));
  Send(block, 11, nullptr);
  benchBlock = nullptr;
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc > 1 && std::strcmp(argv[1], "recovery") == 0) {
    return RunRecovery(argc > 2 ? std::atoi(argv[2]) : 60);
  }
  int measureSeconds = argc > 1 ? std::atoi(argv[1]) : 60;
  if (argc > 2) stationCount = std::max(5, std::min(kMaxStations, std::atoi(argv[2])));
  // 255 stations looking for work every 10 ms would load the two cores themselves.
  int pollMs = argc > 3 ? std::atoi(argv[3]) : 100;
  HevCtlLogOff();
  std::vector<std::unique_ptr<sim::Station>> stations = StartStations(pollMs);
  if (stations.empty()) return 1;
  WriteInitFile();
  std::vector<unsigned char> memory(kInstanceBlockSize, 0);
  auto *block = reinterpret_cast<InstanceBlock *>(memory.data());
  benchBlock = block;
  std::set<int> before = Threads();
  Figures f;
  std::printf("connecting %d stations...\n", stationCount);
  f.coldStartAnswering = ColdStart(block);
  if (f.coldStartAnswering < 0) return 1;
  std::vector<int> driverThreads = ThreadsSince(before);
  ArmEveryStation(block);
  if (!EveryStationFlows()) {
    std::fprintf(stderr, "not every station's samples reach its gate; no measurement\n");
    Send(block, 11, nullptr);
    return 1;
  }
  std::printf("measuring for %d s...\n", measureSeconds);
  MeasureSteadyState(driverThreads, measureSeconds, &f);
  MeasureBurst(*stations[3], 3, &f);
  MeasureRepeatedConnects(block, &f);
  MeasureDetection(stations, &f);
  Send(block, 11, nullptr);
  benchBlock = nullptr;
  f.coldStartSilent = ColdStartWithSilentStations(stations);
  Print(f, measureSeconds, driverThreads.size());
  return 0;
}
