// The runner as a plant gateway at full load: 255 simulated stations (127.b.c.1 ..
// 127.b.c.255, b and c drawn for each run), one sample a second each, through the driver
// and devado-host to a mosquitto broker and a subscriber on loopback.
//
// build/linux/bin/mqtt_bench [seconds [stations]]   (default 30 s, 255 stations; about
// four minutes): devado-host runs three times for the same time, without --mqtt, with it,
// and with it and a store (--mqtt-store), and prints for this machine:
// - the CPU that publishing costs the runner per sample, without and with the store: the
//   difference of the runs' CPU time (as the kernel counted it for the process) over the
//   samples published;
// - the latency from a sample's last gate write (the payload's time) to its arrival at
//   the subscriber: p50, p99 and the largest.
//
// build/linux/bin/mqtt_bench backlog [samples [stations]]   (default 918000, an hour of
// 255 stations): a store that holds that backlog, as an outage of an hour leaves it, is
// made first; then the runner starts on it with the stations live and the broker there.
// It prints the store's bytes per sample, the time until the subscriber has the whole
// backlog, and the latency of the live samples meanwhile (p50, p99, largest).
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "runner/mqtt/sample_store.h"
#include "sim/station.h"
#include "tests/runner/mqtt/processes.h"
#include "tests/runner/mqtt/subscriber.h"

extern char **environ;

namespace {

const std::string kPrefix = "bench/gateway";

struct Usage {
  int status = -1;
  double cpuSeconds = 0;
};

// Starts the runner, its output into `outFile`; -1 when it could not be started.
pid_t StartHost(const std::vector<std::string> &arguments, const char *outFile) {
  std::vector<char *> argv;
  std::string path = DEVADO_HOST_PATH;
  argv.push_back(path.data());
  for (const std::string &a : arguments) argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outFile, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, "host.err", O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = -1;
  if (posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// Waits for the runner's end and returns what the kernel counted for it.
Usage WaitHost(pid_t pid) {
  Usage usage;
  if (pid < 0) return usage;
  int status = 0;
  rusage used{};
  wait4(pid, &status, 0, &used);
  usage.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  usage.cpuSeconds = static_cast<double>(used.ru_utime.tv_sec + used.ru_stime.tv_sec) +
                     static_cast<double>(used.ru_utime.tv_usec + used.ru_stime.tv_usec) / 1e6;
  return usage;
}

Usage RunHost(const std::vector<std::string> &arguments, const char *outFile) {
  return WaitHost(StartHost(arguments, outFile));
}

// "2026-12-09T14:03:07.125+01:00" as milliseconds since the epoch, or -1.
long long EpochMs(const std::string &iso) {
  std::tm tm{};
  int ms = 0, zoneHours = 0, zoneMinutes = 0;
  char sign = '+';
  if (std::sscanf(iso.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3d%c%2d:%2d", &tm.tm_year, &tm.tm_mon,
                  &tm.tm_mday, &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &ms, &sign, &zoneHours,
                  &zoneMinutes) != 10) {
    return -1;
  }
  tm.tm_year -= 1900;
  tm.tm_mon -= 1;
  long long zone = (zoneHours * 60LL + zoneMinutes) * 60 * 1000 * (sign == '-' ? -1 : 1);
  return static_cast<long long>(timegm(&tm)) * 1000 + ms - zone;
}

std::string TimeOf(const std::string &payload) {
  std::size_t at = payload.find("\"time\":\"");
  return at == std::string::npos ? std::string() : payload.substr(at + 8, 29);
}

// The samples the runner says the broker acknowledged: "MQTT: N samples published ...".
long Published(const char *outFile) {
  std::ifstream in(outFile);
  long published = -1;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("MQTT: ", 0) == 0) published = std::atol(line.c_str() + 6);
  }
  return published;
}

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, static_cast<std::size_t>(p * values.size()))];
}

bool IsSample(const testing_support::Received &m) {
  return m.topic.size() >= 7 && m.topic.compare(m.topic.size() - 7, 7, "/sample") == 0;
}

// Milliseconds from the payload's time to the arrival; -1 when the time cannot be read.
double LatencyMs(const testing_support::Received &m) {
  long long written = EpochMs(TimeOf(m.payload));
  auto arrived = std::chrono::duration_cast<std::chrono::milliseconds>(m.at.time_since_epoch());
  return written > 0 ? static_cast<double>(arrived.count() - written) : -1;
}

void PrintLatency(const char *what, const std::vector<double> &latencies) {
  std::printf(
      "%s: p50 %.0f ms, p99 %.0f ms, largest %.0f ms over %zu samples "
      "(payload times have millisecond resolution)\n",
      what, Percentile(latencies, 0.5), Percentile(latencies, 0.99), Percentile(latencies, 1.0),
      latencies.size());
}

// The stations, the broker and a subscriber, in a folder of the run's own.
struct Plant {
  std::string base;  // "127.b.c."
  std::filesystem::path folder;
  std::vector<std::unique_ptr<sim::Station>> stations;
  std::unique_ptr<testing_support::Broker> broker;
  std::unique_ptr<testing_support::Subscriber> subscriber;

  bool SetUp(int count) {
    std::mt19937 rng(std::random_device{}());
    base = "127." + std::to_string(1 + rng() % 254) + "." + std::to_string(rng() % 256) + ".";
    folder = std::filesystem::temp_directory_path() / ("mqtt-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    std::filesystem::current_path(folder);
    std::ofstream init("DEVADO01.int");
    init << "UPDATE RATE = 1\n";
    for (int n = 1; n <= count; ++n) {
      sim::Options options;
      options.address = base + std::to_string(n);
      options.samplePeriodMs = 1000;
      stations.push_back(std::make_unique<sim::Station>(options));
      if (!stations.back()->Start()) {
        std::fprintf(stderr, "station %s did not start\n", options.address.c_str());
        return false;
      }
      char line[64];
      std::snprintf(line, sizeof line, "%03d = %s\n", n, options.address.c_str());
      init << line;
    }
    broker = std::make_unique<testing_support::Broker>(
        "127." + std::to_string(1 + rng() % 254) + ".7.7", testing_support::Broker::Settings{});
    if (!broker->Start()) {
      std::fprintf(stderr, "the broker did not start: %s\n", broker->Log().c_str());
      return false;
    }
    subscriber = std::make_unique<testing_support::Subscriber>("bench-subscriber");
    return subscriber->Subscribe(broker->Address(), broker->Port(), kPrefix + "/#");
  }

  std::vector<std::string> Publishing(std::vector<std::string> arguments) const {
    for (const std::string &a :
         {std::string("--mqtt"), broker->HostPort(), std::string("--mqtt-prefix"), kPrefix}) {
      arguments.push_back(a);
    }
    return arguments;
  }

  ~Plant() {
    std::filesystem::current_path(std::filesystem::temp_directory_path());
    if (!folder.empty()) std::filesystem::remove_all(folder);
  }
};

// A run with --mqtt: waits until the subscriber has all it published and returns their
// latencies (those received from `first` on).
bool Received(const Plant &plant, const char *outFile, std::size_t first, long *samples,
              std::vector<double> *latencies) {
  long published = Published(outFile);
  std::size_t expected = first + static_cast<std::size_t>(std::max(published, 0L));
  if (published <= 0 ||
      !testing_support::WaitUntil([&] { return plant.subscriber->Count() >= expected; },
                                  std::chrono::seconds(30))) {
    std::fprintf(stderr, "%s: the subscriber received %zu of %ld samples\n", outFile,
                 plant.subscriber->Count() - first, published);
    return false;
  }
  *samples = 0;
  for (const testing_support::Received &m : plant.subscriber->Since(first)) {
    if (!IsSample(m)) continue;
    ++*samples;
    double latency = LatencyMs(m);
    if (latency >= 0) latencies->push_back(latency);
  }
  return true;
}

int CpuRuns(int seconds, int count) {
  Plant plant;
  if (!plant.SetUp(count)) return 1;
  std::printf(
      "%d stations on %s1..%d, one sample a second each; devado-host runs %d s three "
      "times\n",
      count, plant.base.c_str(), count, seconds);
  std::vector<std::string> plain = {"--plain", "--duration", std::to_string(seconds)};
  Usage without = RunHost(plain, "/dev/null");
  std::size_t first = plant.subscriber->Count();
  Usage with = RunHost(plant.Publishing(plain), "host.out");
  long samples = 0, storedSamples = 0;
  std::vector<double> latencies, storedLatencies;
  bool ok = without.status == 0 && with.status == 0 &&
            Received(plant, "host.out", first, &samples, &latencies);
  first = plant.subscriber->Count();
  std::vector<std::string> storing = plant.Publishing(plain);
  storing.insert(storing.end(), {"--mqtt-store", "samples.db"});
  Usage stored = RunHost(storing, "stored.out");
  ok = ok && stored.status == 0 &&
       Received(plant, "stored.out", first, &storedSamples, &storedLatencies);
  if (!ok || samples == 0 || storedSamples == 0) {
    std::fprintf(stderr, "the runs failed: exit statuses %d, %d and %d\n", without.status,
                 with.status, stored.status);
    return 1;
  }
  std::printf(
      "runner CPU: %.2f s without, %.2f s with --mqtt, %.2f s with --mqtt and a store "
      "(%.2f%%, %.2f%% and %.2f%% of a core)\n",
      without.cpuSeconds, with.cpuSeconds, stored.cpuSeconds, 100 * without.cpuSeconds / seconds,
      100 * with.cpuSeconds / seconds, 100 * stored.cpuSeconds / seconds);
  std::printf("samples received by the subscriber: %ld and %ld (%.1f a second)\n", samples,
              storedSamples, static_cast<double>(samples) / seconds);
  double plainPerSample = 1e6 * (with.cpuSeconds - without.cpuSeconds) / samples;
  double storedPerSample = 1e6 * (stored.cpuSeconds - without.cpuSeconds) / storedSamples;
  std::printf(
      "publishing CPU per sample: %.1f us without the store, %.1f us with it (%.2f times; "
      "target: at most 2)\n",
      plainPerSample, storedPerSample, storedPerSample / plainPerSample);
  PrintLatency("gate write to subscriber, without the store", latencies);
  PrintLatency("gate write to subscriber, with the store", storedLatencies);
  return 0;
}

// The payload a station's sample has, `ago` seconds before now.
std::string OldPayload(const std::string &address, int station, long sequence, double ago) {
  auto at = std::chrono::system_clock::now() -
            std::chrono::milliseconds(static_cast<long long>(ago * 1000));
  std::time_t whole = std::chrono::system_clock::to_time_t(at);
  std::tm utc{};
  gmtime_r(&whole, &utc);
  char time[40];
  std::strftime(time, sizeof time, "%Y-%m-%dT%H:%M:%S", &utc);
  char payload[400];
  std::snprintf(payload, sizeof payload,
                "{\"time\":\"%s.%03d+00:00\",\"station\":%d,\"address\":\"%s\",\"sequence\":%ld,"
                "\"values\":[812.500000,301.250000,96.000000,12.750000,3.000000,0.000000],"
                "\"airFlow\":\"ok\",\"laserFault\":false}",
                time, static_cast<int>(sequence % 1000), station, address.c_str(), sequence);
  return payload;
}

// The store an outage of `backlog` samples leaves behind, written as the runner writes.
bool MakeBacklog(const Plant &plant, int count, long backlog, double *bytesPerSample) {
  SampleStore store;
  std::vector<std::string> notes;
  std::string why;
  if (store.Open("samples.db", std::int64_t{4} << 30, &notes, &why) !=
      SampleStore::Opened::kReady) {
    std::fprintf(stderr, "the store: %s\n", why.c_str());
    return false;
  }
  long perStation = backlog / count;
  std::vector<StoredSample> batch;
  for (long sequence = 1; sequence <= perStation; ++sequence) {
    for (int station = 1; station <= count; ++station) {
      StoredSample sample;
      sample.station = station;
      sample.sequence = sequence;
      char topic[96];
      std::snprintf(topic, sizeof topic, "%s/1/station/%03d/sample", kPrefix.c_str(), station);
      sample.topic = topic;
      sample.payload = OldPayload(plant.base + std::to_string(station), station, sequence,
                                  static_cast<double>(perStation - sequence) + 60);
      batch.push_back(std::move(sample));
    }
    if (batch.size() >= 10000 || sequence == perStation) {
      if (!store.Commit(&batch, {}, &why)) {
        std::fprintf(stderr, "the store: %s\n", why.c_str());
        return false;
      }
      batch.clear();
    }
  }
  *bytesPerSample = static_cast<double>(std::filesystem::file_size("samples.db") +
                                        (std::filesystem::exists("samples.db-wal")
                                             ? std::filesystem::file_size("samples.db-wal")
                                             : 0)) /
                    static_cast<double>(perStation * count);
  return true;
}

int BacklogRun(long backlog, int count) {
  Plant plant;
  if (!plant.SetUp(count)) return 1;
  double bytesPerSample = 0;
  auto making = std::chrono::steady_clock::now();
  if (!MakeBacklog(plant, count, backlog, &bytesPerSample)) return 1;
  long perStation = backlog / count;
  long total = perStation * count;
  std::printf(
      "a store with %ld samples (%ld of each of %d stations) made in %.0f s: %.0f bytes "
      "per sample on disk\n",
      total, perStation, count,
      std::chrono::duration<double>(std::chrono::steady_clock::now() - making).count(),
      bytesPerSample);
  std::size_t first = plant.subscriber->Count();
  auto start = std::chrono::steady_clock::now();
  pid_t runner =
      StartHost(plant.Publishing({"--plain", "--mqtt-store", "samples.db"}), "backlog.out");
  long historical = 0;
  std::size_t seen = first;
  std::vector<double> live;
  auto drained = testing_support::WaitUntil(
      [&] {
        for (const testing_support::Received &m : plant.subscriber->Since(seen)) {
          ++seen;
          if (!IsSample(m)) continue;
          if (m.payload.compare(0, 18, "{\"historical\":true") == 0) {
            ++historical;
          } else if (LatencyMs(m) >= 0) {
            live.push_back(LatencyMs(m));
          }
        }
        return historical >= total;
      },
      std::chrono::minutes(15));
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  kill(runner, SIGTERM);
  Usage usage = WaitHost(runner);
  std::printf(
      "backlog drained into the broker and the subscriber: %ld of %ld in %.0f s (%.0f a "
      "second; target: within 300 s)%s\n",
      historical, total, seconds, static_cast<double>(historical) / seconds,
      drained ? "" : " - NOT DRAINED");
  PrintLatency("live samples meanwhile, gate write to subscriber (target: p99 under 1 s)", live);
  std::printf("runner CPU over the drain: %.1f s; exit status %d\n", usage.cpuSeconds,
              usage.status);
  return drained ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc > 1 && std::string(argv[1]) == "backlog") {
    long backlog = argc > 2 ? std::atol(argv[2]) : 918000;
    int count = argc > 3 ? std::clamp(std::atoi(argv[3]), 1, 255) : 255;
    return BacklogRun(std::max(backlog, 1L), count);
  }
  int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
  int count = argc > 2 ? std::clamp(std::atoi(argv[2]), 1, 255) : 255;
  return CpuRuns(std::max(seconds, 1), count);
}
