// devado-host: plays the host for the driver, to commission CountNet stations. It loads
// the driver library by name, as a host would, drives it through OxaMain (driver
// information, cold start, one parse per tag, driver end) and shows what the driver
// writes into the stand-in runtime's gates and reports about the station links.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "hevpro/hevpro_control.h"
#include "runner/console.h"
#include "runner/cp437.h"
#include "runner/csv_output.h"
#include "runner/driver_library.h"
#include "runner/driver_log.h"
#include "runner/event_log.h"
#include "runner/host_session.h"
#include "runner/init_file_view.h"
#include "runner/installation_check.h"
#include "runner/live_view.h"
#include "runner/mqtt/plant_publisher.h"
#include "runner/options.h"
#include "runner/plain_output.h"
#include "runner/runtime_hooks.h"
#include "runner/tag_list.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

// The driver keeps the receive time-out but the stations push their data, so it only
// needs to be plausible: half a second.
constexpr std::int32_t kReceiveTimeoutCs = 50;
constexpr auto kRedrawPeriod = std::chrono::milliseconds(500);
constexpr auto kPollPeriod = std::chrono::milliseconds(50);
// At the end, what waits for the broker has this long to go out.
constexpr auto kPublishDrain = std::chrono::seconds(5);

// Exit statuses: 0 a run that went as it should, 1 could not run, 2 a bad command line,
// 3 something of the installation is wrong (see the usage text).
constexpr int kExitInstallationProblem = 3;

int Fail(const std::string &reason) {
  std::fprintf(stderr, "devado-host: %s\n", reason.c_str());
  return 1;
}

void PrintHex(const char *label, const void *data, std::size_t size) {
  std::printf("%s:", label);
  for (std::size_t i = 0; i < size; ++i) {
    std::printf(" %02X", static_cast<const unsigned char *>(data)[i]);
  }
  std::printf("\n");
}

// The pointers in the record differ between processes; the texts they point to are
// shown instead.
void PrintInfoBytes(const DriverInfoRecord &record) {
  const char *name = record.name.Get();
  const char *banner = record.banner.Get();
  PrintHex("value0", &record.hostValue0, 4);
  PrintHex("name", name, std::strlen(name) + 1);
  PrintHex("banner", banner, std::strlen(banner) + 1);
  PrintHex("blockSize", &record.blockSize, 4);
  PrintHex("value16", &record.hostValue16, 4);
  PrintHex("value28", &record.hostValue28, 4);
}

// The banner for today's terminals: UTF-8, plain line ends, no trailing line end.
std::string BannerText(const char *banner) {
  std::string text;
  for (char c : Cp437ToUtf8(banner)) {
    if (c != '\r') text += c;
  }
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

struct Run {
  Options options;
  InitFileView init;
  std::vector<TagEntry> tags;
  std::vector<Finding> findings;  // the offline check of the init file and the tags
  int refusedTags = 0;
  bool live = false;
  std::string driverName;
  std::vector<std::string> notes;       // about the tags, for the live view
  PlantPublisher *publisher = nullptr;  // with --mqtt
};

bool LoadTags(Run *run) {
  if (run->options.tagsPath.empty()) {
    std::vector<int> numbers;
    for (const ConfiguredStation &station : run->init.stations) numbers.push_back(station.number);
    run->tags = DefaultTags(numbers, run->options.channels);
    return true;
  }
  std::vector<std::string> errors;
  if (ReadTagList(run->options.tagsPath, &run->tags, &errors)) return true;
  for (const std::string &error : errors) std::fprintf(stderr, "%s\n", error.c_str());
  return false;
}

// Cold start runs on a thread of its own while this one shows how far the driver has
// come with connecting the stations (up to half a second each).
int ColdStartShowingProgress(HostSession &session, EventLog &events, const Run &run,
                             std::vector<std::string> *lines) {
  std::atomic<bool> done{false};
  int result = 0;
  std::thread worker([&] {
    events.BeginCapture();
    result = session.ColdStart(kReceiveTimeoutCs);
    *lines = events.EndCapture();
    done = true;
  });
  int total = static_cast<int>(run.init.stations.size());
  while (!done) {
    if (run.live) {
      std::printf("\rconnecting stations %d/%d", events.Snapshot(0).connectResults, total);
      std::fflush(stdout);
    }
    std::this_thread::sleep_for(kPollPeriod);
  }
  worker.join();
  if (run.live) {
    std::printf("\rconnecting stations %d/%d\n", events.Snapshot(0).connectResults, total);
  }
  return result;
}

TagOutcome ParseTag(HostSession &session, EventLog &events, const Run &run, int gateId,
                    const TagEntry &tag) {
  TagOutcome outcome;
  outcome.tag = tag;
  outcome.gateId = gateId;
  HevCtlDefineGate(gateId, tag.address.c_str(), tag.gateType, run.options.instance - 1);
  ParseParams params;
  events.BeginCapture();
  int result = session.Parse(tag.address, gateId, tag.gateType, &params);
  std::vector<std::string> lines = events.EndCapture();
  outcome.accepted = result == kCommandOk;
  if (!outcome.accepted) {
    outcome.reason = RefusalReason(lines);
    if (outcome.reason.empty()) outcome.reason = "refused with result " + std::to_string(result);
    return outcome;
  }
  int station = params.station.Get();
  bool channelTag = tag.gateType == kHevGateFloat;
  int channel = params.channel.Get();
  events.AddGate(gateId, tag.address, station, channelTag ? channel : -1);
  // The host finds gates by exact address, and the driver writes the canonical one.
  if (channelTag && ChannelAddress(station, channel) != tag.address) {
    outcome.note = "the driver writes this channel to gate " + ChannelAddress(station, channel) +
                   ", so gate " + tag.address + " receives nothing";
  }
  return outcome;
}

LiveHeader HeaderOf(const Run &run, SteadyClock::time_point start) {
  LiveHeader header;
  header.driverName = run.driverName;
  header.instance = run.options.instance;
  header.initFile = run.init.fileName;
  header.updateRate = run.init.updateRate;
  header.elapsed = std::chrono::duration_cast<std::chrono::seconds>(SteadyClock::now() - start);
  header.durationSeconds = run.options.durationSeconds;
  header.notes = run.notes;
  // Anyone who sets NO_COLOR, to anything but empty, wants no colours.
  const char *noColour = std::getenv("NO_COLOR");
  header.colours = noColour == nullptr || noColour[0] == '\0';
  return header;
}

void Redraw(const Run &run, const EventLog &events, SteadyClock::time_point start) {
  int rows = 0;
  int columns = 0;
  TerminalSize(&rows, &columns);
  DrawInPlace(stdout,
              RenderLiveView(HeaderOf(run, start),
                             events.Snapshot(kLiveLogLines, run.options.detail), rows, columns));
}

bool EveryStationDelivered(const EventLog &events, int samples) {
  for (const StationState &station : events.Snapshot(0).stations) {
    if (station.completed < samples) return false;
  }
  return true;
}

// How long --once and --samples wait: the samples, six update periods in which the driver
// notices a silent station, one more, and 10 s for connecting.
int SampleModeSeconds(const Run &run) {
  if (run.options.durationSeconds > 0) return run.options.durationSeconds;
  return (run.options.samples + 7) * run.init.updateRate + 10;
}

// Until the duration has passed, every station delivered its samples (--once, --samples)
// or a stop is requested; returns the seconds run.
double RunUntilDone(const Run &run, EventLog &events) {
  auto start = SteadyClock::now();
  int seconds = run.options.samples > 0 ? SampleModeSeconds(run) : run.options.durationSeconds;
  auto end = start + std::chrono::seconds(seconds);
  auto nextDraw = start;
  while (!StopRequested() && (seconds == 0 || SteadyClock::now() < end)) {
    if (run.options.samples > 0 && EveryStationDelivered(events, run.options.samples)) break;
    if (run.publisher != nullptr && run.publisher->Refused(nullptr)) break;
    events.Tick();
    if (run.live && SteadyClock::now() >= nextDraw) {
      Redraw(run, events, start);
      nextDraw += kRedrawPeriod;
    }
    std::this_thread::sleep_for(kPollPeriod);
  }
  if (run.live) Redraw(run, events, start);
  return std::chrono::duration<double>(SteadyClock::now() - start).count();
}

std::string InfoFailure(int result) {
  return "the driver answered " + std::to_string(result) + " to the information command";
}

// Driver information, then cold start; 0, or the exit status of a failure.
int StartDriver(HostSession &session, EventLog &events, PlainOutput &printer, Run &run) {
  DriverInfoRecord record;
  int result = session.DriverInfo(&record);
  if (result != kCommandOk) return Fail(InfoFailure(result));
  run.driverName = record.name.Get();
  printer.DriverInfo(run.driverName, BannerText(record.banner.Get()), record.blockSize.Get());
  std::vector<std::string> coldStartLines;
  if (run.live) printer.Flush();  // the progress is drawn on the terminal directly
  result = ColdStartShowingProgress(session, events, run, &coldStartLines);
  printer.ColdStart(result, static_cast<int>(run.init.stations.size()), run.init.fileName,
                    run.init.updateRate);
  if (result == kCommandOk) return 0;
  session.End();
  std::string last = coldStartLines.empty() ? "" : ": " + coldStartLines.back();
  return Fail("cold start failed with result " + std::to_string(result) + last);
}

// Defines each tag as a gate and has the driver parse it; returns how many it accepted.
int ParseTags(HostSession &session, EventLog &events, PlainOutput &printer, Run &run) {
  std::vector<TagOutcome> outcomes;
  int accepted = 0;
  for (std::size_t i = 0; i < run.tags.size(); ++i) {
    TagOutcome outcome = ParseTag(session, events, run, static_cast<int>(i) + 1, run.tags[i]);
    accepted += outcome.accepted ? 1 : 0;
    if (!outcome.accepted) {
      ++run.refusedTags;
      run.notes.push_back("refused " + outcome.tag.address + ": " + outcome.reason);
    }
    if (!outcome.note.empty()) run.notes.push_back(outcome.tag.address + ": " + outcome.note);
    outcomes.push_back(outcome);
  }
  printer.Tags(outcomes);
  return accepted;
}

// What is wrong with the init file, before anything runs: printed, or pinned below the
// live view's title, problems first. (The tags get the driver's own answers.)
void ShowFindings(PlainOutput &printer, Run &run) {
  std::vector<Finding> initFile;
  for (const Finding &f : run.findings) {
    if (f.where.rfind(run.init.fileName, 0) == 0) initFile.push_back(f);
  }
  if (!run.live) {
    printer.Findings(initFile, false);
    return;
  }
  for (Severity severity : {Severity::kProblem, Severity::kNote}) {
    for (const Finding &f : initFile) {
      if (f.severity != severity) continue;
      run.notes.push_back(std::string(SeverityName(severity)) + " " + f.where + ": " +
                          (f.what.empty() ? "" : "'" + f.what + "' ") + f.text);
    }
  }
}

// The CSV file's channel columns: up to the highest channel among the tags.
int ChannelColumns(const std::vector<TagEntry> &tags) {
  int columns = 0;
  for (const TagEntry &tag : tags) {
    int station = 0, channel = 0;
    char f = 0;
    if (std::sscanf(tag.address.c_str(), "%3d%c%4d", &station, &f, &channel) == 3 &&
        (f == 'F' || f == 'f')) {
      columns = std::max(columns, channel + 1);
    }
  }
  return columns;
}

// 0 when the installation worked as it should during the run, else 3: a station never
// connected, a tag was refused, a station was left failed, or (--once, --samples) a
// station did not deliver.
int RunStatus(const Run &run, const std::vector<StationState> &stations) {
  bool fine = run.refusedTags == 0;
  for (const StationState &s : stations) {
    bool neverConnected = s.link == LinkState::kNotConnected || s.link == LinkState::kWaiting;
    fine = fine && !neverConnected && s.link != LinkState::kFailed &&
           s.completed >= run.options.samples;
  }
  return fine ? 0 : kExitInstallationProblem;
}

// The publisher's notices go where the run shows its lines: into the live view's recent
// lines, or printed.
std::unique_ptr<PlantPublisher> StartPublisher(Run &run, EventLog &events, PlainOutput &printer,
                                               std::string *error) {
  PlantPublisher::Notice notice;
  if (run.live) {
    notice = [&events](WallTime time, const std::string &text) { events.OnMqttNotice(time, text); };
  } else {
    notice = [&printer](WallTime time, const std::string &text) { printer.Mqtt(time, text); };
  }
  auto publisher =
      std::make_unique<PlantPublisher>(run.options.mqtt, run.options.instance, std::move(notice));
  if (!publisher->Start(error)) return nullptr;
  return publisher;
}

int Commission(const DriverLibrary &driver, Run &run) {
  bool json = run.options.output == OutputMode::kJson;
  PlainOutput printer(stdout, json);
  // --once and --samples in plain lines say only what matters to a script's reader.
  bool brief = !json && !run.live && run.options.samples > 0;
  printer.SetBrief(brief);
  EventLog events(run.init.stations, run.live || brief ? nullptr : &printer);
  RuntimeHooks hooks(&events);
  std::string error;
  if (!run.options.logPath.empty() && !hooks.OpenLogFile(run.options.logPath, &error)) {
    return Fail("cannot write the log file " + error);
  }
  std::unique_ptr<std::FILE, int (*)(std::FILE *)> csvFile(nullptr, &std::fclose);
  std::unique_ptr<CsvOutput> csv;
  if (!run.options.csvPath.empty()) {
    csvFile.reset(std::fopen(run.options.csvPath.c_str(), "w"));
    if (!csvFile) return Fail("cannot write the CSV file " + run.options.csvPath);
    csv = std::make_unique<CsvOutput>(csvFile.get(), ChannelColumns(run.tags));
    csv->Header();
    events.AddStationSink(csv.get());
  }
  std::unique_ptr<PlantPublisher> publisher;
  if (run.options.mqtt.Enabled()) {
    publisher = StartPublisher(run, events, printer, &error);
    if (!publisher) return Fail(error);
    run.publisher = publisher.get();
    events.AddStationSink(publisher.get());
  }
  // Whichever way the run ends, the sinks leave the event log before they go.
  std::unique_ptr<EventLog, void (*)(EventLog *)> sinksOut(
      &events, [](EventLog *log) { log->ClearStationSinks(); });
  hooks.Attach();
  CatchStopSignals();
  HostSession session(driver, run.options.instance);
  ShowFindings(printer, run);
  if (int status = StartDriver(session, events, printer, run)) return status;
  if (ParseTags(session, events, printer, run) == 0) {
    session.End();
    return Fail("the driver accepted none of the " + std::to_string(run.tags.size()) + " tags");
  }
  printer.Running(run.live                  ? 0
                  : run.options.samples > 0 ? SampleModeSeconds(run)
                                            : run.options.durationSeconds);
  printer.Flush();
  if (run.live) ShowCursor(stdout, false);
  double seconds = RunUntilDone(run, events);
  int result = session.End();
  events.FlushSamples();
  events.ClearStationSinks();  // the sinks go before the runtime's observers do
  if (run.live) ShowCursor(stdout, true);
  std::vector<StationState> stations = events.Snapshot(0).stations;
  if (run.options.samples > 0) printer.StationLines(stations, run.options.samples);
  if (run.options.samples == 0 || run.options.output == OutputMode::kJson) {
    printer.Summary(seconds, result, stations);
  }
  int status = RunStatus(run, stations);
  if (publisher) {
    PublishSummary published = publisher->Finish(kPublishDrain);
    printer.Publishing(published, publisher->Prefix());
    std::string refusal;
    if (publisher->Refused(&refusal)) return Fail(refusal);
    // Samples that never reached the broker are a gap in the plant's record.
    if (published.dropped > 0 || published.unsent > 0 || published.refused > 0) {
      status = kExitInstallationProblem;
    }
  }
  return status;
}

// The init file and the tags, and what the check finds in them; 0, or the exit status of
// a failure.
int ReadInstallation(Run &run) {
  std::string error;
  if (!ReadInitFileView(run.options.instance, &run.init, &error)) {
    return Fail("cannot read the init file " + error +
                " (the driver reads its stations from this file in the current directory)");
  }
  if (!LoadTags(&run)) return Fail("the tag list has errors; nothing was run");
  run.findings = CheckInstallation(run.init, run.tags, run.options.tagsPath);
  return 0;
}

int CheckOffline(Run &run) {
  if (int status = ReadInstallation(run)) return status;
  PlainOutput printer(stdout, run.options.output == OutputMode::kJson);
  printer.Findings(run.findings, true);
  int problems = ProblemCount(run.findings);
  if (run.options.output != OutputMode::kJson) {
    printer.Text(problems == 0 ? "check: nothing wrong found"
                               : "check: " + std::to_string(problems) +
                                     (problems == 1 ? " problem" : " problems"));
  }
  return problems == 0 ? 0 : kExitInstallationProblem;
}

int ShowDriverBytes(const DriverLibrary &driver) {
  HostSession session(driver, 1);
  DriverInfoRecord record;
  int result = session.DriverInfo(&record);
  if (result != kCommandOk) return Fail(InfoFailure(result));
  PrintInfoBytes(record);
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  WatchStopSignals();
  Run run;
  std::string error;
  if (!ParseOptions(std::vector<std::string>(argv + 1, argv + argc), &run.options, &error)) {
    std::fprintf(stderr, "devado-host: %s (see --help)\n", error.c_str());
    return 2;
  }
  if (run.options.help) {
    std::fputs(UsageText().c_str(), stdout);
    return 0;
  }
  if (run.options.version) {
    std::printf("devado-host %s\n", DEVADO_VERSION);
    return 0;
  }
  if (run.options.mqtt.Enabled() && !BrokerSession::Supported()) return Fail(kNoMqttSupport);
  if (run.options.check) return CheckOffline(run);
  if (run.options.driverPath.empty()) run.options.driverPath = DefaultDriverPath(argv[0]);
  DriverLibrary driver;
  if (!driver.Load(run.options.driverPath, &error)) return Fail(error);
  if (run.options.hex) return ShowDriverBytes(driver);
  if (int status = ReadInstallation(run)) return status;
  run.live = run.options.output == OutputMode::kLive ||
             (run.options.output == OutputMode::kAuto && StdoutIsTerminal());
  PrepareConsole(run.live);
  return Commission(driver, run);
}
