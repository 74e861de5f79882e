// The runner as a plant gateway at full load: 255 simulated stations (127.b.c.1 ..
// 127.b.c.255, b and c drawn for each run), one sample a second each, through the driver
// and devado-host to a mosquitto broker and a subscriber on loopback. devado-host runs
// twice for the same time, without and with --mqtt, and prints for this machine:
// - the CPU that publishing costs the runner per sample: the difference of the two runs'
//   CPU time (as the kernel counted it for the process) over the samples published;
// - the latency from a sample's last gate write (the payload's time) to its arrival at
//   the subscriber: p50, p99 and the largest.
// Run: build/linux/bin/mqtt_bench [seconds [stations]]   (default 30 s, 255 stations;
// about two and a half minutes)
#include <fcntl.h>
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

// Runs the runner to its end, its output into `outFile`, and returns what the kernel
// counted for it.
Usage RunHost(const std::vector<std::string> &arguments, const char *outFile) {
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
  Usage usage;
  if (posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ) != 0) return usage;
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  rusage used{};
  wait4(pid, &status, 0, &used);
  usage.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  usage.cpuSeconds = static_cast<double>(used.ru_utime.tv_sec + used.ru_stime.tv_sec) +
                     static_cast<double>(used.ru_utime.tv_usec + used.ru_stime.tv_usec) / 1e6;
  return usage;
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

long CountSamples(const testing_support::Subscriber &subscriber) {
  long count = 0;
  for (const testing_support::Received &m : subscriber.Messages()) {
    count += m.topic.size() >= 7 && m.topic.compare(m.topic.size() - 7, 7, "/sample") == 0;
  }
  return count;
}

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, static_cast<std::size_t>(p * values.size()))];
}

}  // namespace

int main(int argc, char **argv) {
  int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
  int count = argc > 2 ? std::clamp(std::atoi(argv[2]), 1, 255) : 255;
  std::mt19937 rng(std::random_device{}());
  std::string base =
      "127." + std::to_string(1 + rng() % 254) + "." + std::to_string(rng() % 256) + ".";

  std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("mqtt-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  std::filesystem::current_path(folder);
  std::ofstream init("DEVADO01.int");
  init << "UPDATE RATE = 1\n";
  std::vector<std::unique_ptr<sim::Station>> stations;
  for (int n = 1; n <= count; ++n) {
    sim::Options options;
    options.address = base + std::to_string(n);
    options.samplePeriodMs = 1000;
    stations.push_back(std::make_unique<sim::Station>(options));
    if (!stations.back()->Start()) {
      std::fprintf(stderr, "station %s did not start\n", options.address.c_str());
      return 1;
    }
    char line[64];
    std::snprintf(line, sizeof line, "%03d = %s\n", n, options.address.c_str());
    init << line;
  }
  init.close();

  testing_support::Broker broker("127." + std::to_string(1 + rng() % 254) + ".7.7", {});
  if (!broker.Start()) {
    std::fprintf(stderr, "the broker did not start: %s\n", broker.Log().c_str());
    return 1;
  }
  testing_support::Subscriber subscriber("bench-subscriber");
  if (!subscriber.Subscribe(broker.Address(), broker.Port(), kPrefix + "/#")) return 1;

  std::printf("%d stations on %s1..%d, one sample a second each; devado-host runs %d s twice\n",
              count, base.c_str(), count, seconds);
  std::vector<std::string> plain = {"--plain", "--duration", std::to_string(seconds)};
  Usage without = RunHost(plain, "/dev/null");
  std::vector<std::string> publishing = plain;
  for (const char *a : {"--mqtt", "", "--mqtt-prefix", ""}) publishing.push_back(a);
  publishing[plain.size() + 1] = broker.HostPort();
  publishing[plain.size() + 3] = kPrefix;
  Usage with = RunHost(publishing, "host.out");
  long published = Published("host.out");
  if (without.status != 0 || with.status != 0 || published <= 0) {
    std::fprintf(stderr, "the runs failed: exit statuses %d and %d, %ld published\n",
                 without.status, with.status, published);
    return 1;
  }
  // What the broker acknowledged reaches the subscriber a moment later.
  if (!testing_support::WaitUntil([&] { return CountSamples(subscriber) >= published; },
                                  std::chrono::seconds(30))) {
    std::fprintf(stderr, "the subscriber received %ld of %ld samples\n", CountSamples(subscriber),
                 published);
    return 1;
  }

  std::vector<double> latencies;
  long samples = 0;
  for (const testing_support::Received &m : subscriber.Messages()) {
    if (m.topic.size() < 7 || m.topic.compare(m.topic.size() - 7, 7, "/sample") != 0) continue;
    ++samples;
    long long written = EpochMs(TimeOf(m.payload));
    auto arrived = std::chrono::duration_cast<std::chrono::milliseconds>(m.at.time_since_epoch());
    if (written > 0) latencies.push_back(static_cast<double>(arrived.count() - written));
  }
  std::printf("runner CPU: %.2f s without, %.2f s with --mqtt (%.2f%% and %.2f%% of a core)\n",
              without.cpuSeconds, with.cpuSeconds, 100 * without.cpuSeconds / seconds,
              100 * with.cpuSeconds / seconds);
  std::printf("samples published: %ld; received by the subscriber: %ld (%.1f a second)\n",
              published, samples, static_cast<double>(samples) / seconds);
  if (samples > 0) {
    std::printf("publishing CPU per sample: %.1f us\n",
                1e6 * (with.cpuSeconds - without.cpuSeconds) / static_cast<double>(samples));
  }
  std::printf(
      "gate write to subscriber: p50 %.0f ms, p99 %.0f ms, largest %.0f ms "
      "(payload times have millisecond resolution)\n",
      Percentile(latencies, 0.5), Percentile(latencies, 0.99), Percentile(latencies, 1.0));
  std::filesystem::current_path(std::filesystem::temp_directory_path());
  std::filesystem::remove_all(folder);
  return 0;
}
