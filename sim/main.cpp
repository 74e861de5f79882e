// countnet-sim: CountNet stations on loopback addresses, for the demo and for anyone
// without a particle counter at hand. See Usage() for the options.
#include <atomic>
#include <chrono>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "runner/clock_text.h"
#include "sim/command_line.h"
#include "sim/net.h"
#include "sim/station.h"
#include "sim/stop_signals.h"

namespace {

std::atomic<bool> stopRequested{false};

// Standard input runs out when the program that started the simulator goes away: the
// stations go with it. The thread is left blocked in its read when the run ends another
// way; the process exits around it.
void WatchInput() {
  std::thread([] {
    std::string line;
    while (std::getline(std::cin, line)) {
    }
    stopRequested = true;
  }).detach();
}

// A station's spell of silence and the fault mode it returns to afterwards.
struct ScheduledSilence {
  sim::Station *station;
  sim::SilentSpell spell;
  sim::FaultMode fault;
  int faultCount;
  bool begun = false;
  bool ended = false;
};

void FollowSchedule(std::vector<ScheduledSilence> &schedule, std::chrono::milliseconds elapsed) {
  for (ScheduledSilence &item : schedule) {
    if (item.spell.fromSeconds < 0) continue;
    auto from = std::chrono::seconds(item.spell.fromSeconds);
    if (!item.begun && elapsed >= from) {
      item.station->SetFault(sim::FaultMode::kSilent, item.faultCount);
      item.begun = true;
    }
    bool bounded = item.spell.forSeconds > 0;
    if (item.begun && !item.ended && bounded &&
        elapsed >= from + std::chrono::seconds(item.spell.forSeconds)) {
      item.station->SetFault(item.fault, item.faultCount);
      item.ended = true;
    }
  }
}

// Every address is checked before any station starts: a station sharing its address and
// port with another program would answer for that program, or not at all.
bool AddressesFree(const std::vector<sim::Options> &stations) {
  win::WSADATA data;
  if (win::WSAStartup(0x0101, &data) != 0) return true;  // each station's start says so
  bool free = true;
  for (const sim::Options &options : stations) {
    int error = 0;
    if (sim::net::AddressFree(options.address, sim::kStationPort, &error)) continue;
    std::cerr << "countnet-sim: " << options.address << ":" << sim::kStationPort
              << " is in use by another program (socket error " << error
              << "); give the station another loopback address with --address\n";
    free = false;
  }
  win::WSACleanup();
  return free;
}

void RunUntilStopped(int seconds, std::vector<ScheduledSilence> &schedule) {
  auto start = std::chrono::steady_clock::now();
  auto deadline = start + std::chrono::seconds(seconds);
  while (!stopRequested && (seconds == 0 || std::chrono::steady_clock::now() < deadline)) {
    auto now = std::chrono::steady_clock::now();
    FollowSchedule(schedule, std::chrono::duration_cast<std::chrono::milliseconds>(now - start));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

}  // namespace

int main(int argc, char **argv) {
  sim::CatchStopSignals(&stopRequested);
  sim::CommandLine commandLine;
  std::string error;
  if (!sim::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), &commandLine,
                             &error)) {
    std::cerr << "countnet-sim: " << error << "\n(countnet-sim --help lists the options)\n";
    return 2;
  }
  if (commandLine.help) {
    std::cout << sim::Usage();
    return 0;
  }
  if (commandLine.version) {
    std::cout << "countnet-sim " << DEVADO_VERSION << "\n";
    return 0;
  }

  if (!AddressesFree(commandLine.stations)) return 3;

  std::mutex outputMutex;
  auto log = [&outputMutex](const std::string &line) {
    std::lock_guard<std::mutex> lock(outputMutex);
    std::cout << IsoTime(std::chrono::system_clock::now()) << "  " << line << std::endl;
  };
  std::vector<std::unique_ptr<sim::Station>> stations;
  std::vector<ScheduledSilence> schedule;
  for (std::size_t i = 0; i < commandLine.stations.size(); ++i) {
    sim::Options &options = commandLine.stations[i];
    if (!commandLine.quiet) options.log = log;
    stations.push_back(std::make_unique<sim::Station>(options));
    if (!stations.back()->Start()) {
      std::cerr << "countnet-sim: cannot start the station on " << options.address << ":"
                << sim::kStationPort << " (is another program listening there?)\n";
      return 1;
    }
    schedule.push_back(
        {stations.back().get(), commandLine.silences.at(i), options.fault, options.faultCount});
  }

  if (commandLine.watchInput) WatchInput();
  RunUntilStopped(commandLine.seconds, schedule);

  for (auto &station : stations) {
    station->Stop();
    if (!commandLine.quiet) {
      log(station->Address() + " done: " + std::to_string(station->Connections()) +
          " connections, " + std::to_string(station->SamplesSent()) + " samples sent, " +
          std::to_string(station->Received().size()) + " packets received");
    }
  }
  return 0;
}
