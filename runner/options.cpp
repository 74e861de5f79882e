#include "runner/options.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace {

constexpr int kMaxInstance = 255;  // the runtime keeps driver indexes 0..254
constexpr int kMaxChannels = 32;   // a sample holds at most 32 size channels
constexpr int kMaxDurationSeconds = 1000000;
constexpr int kMaxSamples = 1000000;
// A sample waits in memory as a few hundred bytes: a million is about 400 MB, as much as
// a 32-bit process can be sure to hold beside the rest.
constexpr int kMaxQueue = 1000000;
constexpr int kMaxPort = 65535;

bool ToInt(const std::string &text, int low, int high, int *value) {
  if (text.empty()) return false;
  char *end = nullptr;
  errno = 0;
  long parsed = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || parsed < low || parsed > high) return false;
  *value = static_cast<int>(parsed);
  return true;
}

// A size in bytes: N, or N with K, M or G (binary units); at least 32 KiB, which is room
// for the store's own tables and a few dozen samples.
bool ToSize(const std::string &text, std::int64_t *value) {
  if (text.empty()) return false;
  char *end = nullptr;
  errno = 0;
  long long parsed = std::strtoll(text.c_str(), &end, 10);
  std::string unit = end;
  int shift = unit.empty() ? 0 : unit == "K" ? 10 : unit == "M" ? 20 : unit == "G" ? 30 : -1;
  constexpr long long kLargest = 1LL << 50;
  if (errno != 0 || shift < 0 || parsed <= 0 || parsed > (kLargest >> shift)) return false;
  *value = static_cast<std::int64_t>(parsed) << shift;
  return *value >= (std::int64_t{32} << 10);
}

// HOST, HOST:PORT, [IPV6] or [IPV6]:PORT.
bool TakeBroker(const std::string &text, MqttSettings *mqtt) {
  std::string host = text;
  std::string port;
  if (!text.empty() && text[0] == '[') {
    std::size_t close = text.find(']');
    if (close == std::string::npos) return false;
    host = text.substr(1, close - 1);
    std::string rest = text.substr(close + 1);
    if (!rest.empty() && rest[0] != ':') return false;
    if (!rest.empty()) port = rest.substr(1);
    if (!rest.empty() && port.empty()) return false;
  } else if (std::count(text.begin(), text.end(), ':') == 1) {
    host = text.substr(0, text.find(':'));
    port = text.substr(text.find(':') + 1);
    if (port.empty()) return false;
  }
  if (host.empty()) return false;
  mqtt->host = host;
  return port.empty() || ToInt(port, 1, kMaxPort, &mqtt->port);
}

// A prefix is the start of every topic: no wildcards, no empty levels.
bool TakePrefix(const std::string &text, MqttSettings *mqtt) {
  std::string prefix = text;
  while (!prefix.empty() && prefix.back() == '/') prefix.pop_back();
  bool wildcard = prefix.find_first_of("+#") != std::string::npos;
  bool emptyLevel =
      prefix.empty() || prefix.front() == '/' || prefix.find("//") != std::string::npos;
  if (wildcard || emptyLevel || prefix.find('\0') != std::string::npos) return false;
  mqtt->prefix = prefix;
  return true;
}

bool TakeMqttValue(const std::string &name, const std::string &value, MqttSettings *mqtt,
                   bool *ok) {
  if (name == "--mqtt") {
    *ok = TakeBroker(value, mqtt);
  } else if (name == "--mqtt-prefix") {
    *ok = TakePrefix(value, mqtt);
  } else if (name == "--mqtt-client-id") {
    mqtt->clientId = value;
    *ok = !value.empty();
  } else if (name == "--mqtt-user") {
    mqtt->user = value;
    *ok = !value.empty();
  } else if (name == "--mqtt-password-file") {
    mqtt->passwordFile = value;
    *ok = !value.empty();
  } else if (name == "--mqtt-cafile") {
    mqtt->caFile = value;
    *ok = !value.empty();
  } else if (name == "--mqtt-queue") {
    *ok = ToInt(value, 1, kMaxQueue, &mqtt->queue);
  } else if (name == "--mqtt-store") {
    mqtt->storePath = value;
    *ok = !value.empty();
  } else if (name == "--mqtt-store-max") {
    *ok = ToSize(value, &mqtt->storeMax);
  } else {
    return false;
  }
  return true;
}

bool TakeFlag(const std::string &name, Options *options) {
  if (name == "--plain") {
    options->output = OutputMode::kPlain;
  } else if (name == "--live") {
    options->output = OutputMode::kLive;
  } else if (name == "--json") {
    options->output = OutputMode::kJson;
  } else if (name == "--hex") {
    options->hex = true;
  } else if (name == "--once") {
    options->samples = 1;
  } else if (name == "--check") {
    options->check = true;
  } else if (name == "--detail") {
    options->detail = true;
  } else if (name == "--version") {
    options->version = true;
  } else if (name == "--help" || name == "-h") {
    options->help = true;
  } else {
    return false;
  }
  return true;
}

// Options with a value; false for an unknown name, *ok false for a bad value.
bool TakeValue(const std::string &name, const std::string &value, Options *options, bool *ok) {
  *ok = true;
  if (name == "--driver") {
    options->driverPath = value;
  } else if (name == "--tags") {
    options->tagsPath = value;
  } else if (name == "--log") {
    options->logPath = value;
  } else if (name == "--instance") {
    *ok = ToInt(value, 1, kMaxInstance, &options->instance);
  } else if (name == "--channels") {
    *ok = ToInt(value, 0, kMaxChannels, &options->channels);
  } else if (name == "--duration") {
    *ok = ToInt(value, 0, kMaxDurationSeconds, &options->durationSeconds);
  } else if (name == "--samples") {
    *ok = ToInt(value, 1, kMaxSamples, &options->samples);
  } else if (name == "--csv") {
    options->csvPath = value;
  } else {
    return TakeMqttValue(name, value, &options->mqtt, ok);
  }
  return true;
}

// The MQTT options that only make sense together.
bool MqttOptionsFit(const MqttSettings &mqtt, std::string *error) {
  bool tuned = !mqtt.prefix.empty() || !mqtt.clientId.empty() || !mqtt.user.empty() ||
               !mqtt.passwordFile.empty() || !mqtt.caFile.empty() ||
               mqtt.queue != MqttSettings().queue || !mqtt.storePath.empty() ||
               mqtt.storeMax != MqttSettings().storeMax;
  if (tuned && !mqtt.Enabled()) {
    *error = "the --mqtt-... options need --mqtt HOST[:PORT]";
    return false;
  }
  if (mqtt.user.empty() != mqtt.passwordFile.empty()) {
    *error = "--mqtt-user and --mqtt-password-file go together";
    return false;
  }
  return true;
}

}  // namespace

std::string MqttSettings::BrokerText() const {
  bool ipv6 = host.find(':') != std::string::npos;
  return (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(PortInUse());
}

bool ParseOptions(const std::vector<std::string> &args, Options *options, std::string *error) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string &name = args[i];
    if (TakeFlag(name, options)) continue;
    bool ok = true;
    std::string value = i + 1 < args.size() ? args[i + 1] : std::string();
    if (!TakeValue(name, value, options, &ok)) {
      *error = "unknown option '" + name + "'";
      return false;
    }
    if (i + 1 >= args.size()) {
      *error = "option " + name + " needs a value";
      return false;
    }
    if (!ok) {
      *error = "bad value '" + value + "' for " + name;
      return false;
    }
    ++i;
  }
  return MqttOptionsFit(options->mqtt, error);
}

std::string UsageText() {
  return "usage: devado-host [OPTIONS]\n"
         "\n"
         "Plays the host for the devado driver, to commission CountNet stations: loads\n"
         "the driver library, shows its information, cold-starts a driver instance in\n"
         "the current directory (the driver reads its init file DEVADOnn.int there),\n"
         "defines and parses the tags, shows what the driver writes into the gates and\n"
         "reports about the station links, then ends the driver and prints a summary.\n"
         "\n"
         "Options:\n"
         "  --check         read the init file and the tags offline, by the driver's own\n"
         "                  rules, and print what the driver will make of each line and\n"
         "                  tag: accepted, rejected and why, passed over; the update rate\n"
         "                  in force; stations sharing an address; then stop (exit status\n"
         "                  0 when nothing is wrong, 3 when something is)\n"
         "  --driver PATH   the driver library (default: the one beside this program)\n"
         "  --instance N    the driver instance, 1 to 255 (default 1); instance 1 reads\n"
         "                  DEVADO01.int\n"
         "  --tags FILE     the tags to define and parse (see below; default: for every\n"
         "                  station of the init file, its channel tags and air-flow tag)\n"
         "  --channels N    channel tags per station without --tags: sssF0000 up to\n"
         "                  channel N-1, 0 to 32 (default 6)\n"
         "  --duration S    run S seconds once the tags are parsed, then end the driver\n"
         "                  (default 0: until Ctrl-C, SIGTERM or SIGHUP)\n"
         "  --once          wait for one sample from every station, print one line per\n"
         "                  station (its state, the failure's cause, its values), end the\n"
         "                  driver and exit; a station that has not delivered within seven\n"
         "                  update periods and 10 s (or --duration) counts as failed\n"
         "  --samples N     likewise, N samples from every station\n"
         "  --csv FILE      one row per sample per station into FILE: time, station,\n"
         "                  address, sample number, air flow, then one column per channel\n"
         "  --plain         one line per gate write (time, address, value) and per link\n"
         "                  change, instead of the live view; the default when standard\n"
         "                  output is not a terminal\n"
         "  --json          the same events as JSON lines, with a closing summary line\n"
         "  --live          the live view even when standard output is not known as a\n"
         "                  terminal, e.g. a terminal behind a pipe; its size is then\n"
         "                  taken from LINES and COLUMNS\n"
         "  --log FILE      every driver log line, with its time and level, into FILE\n"
         "  --mqtt HOST[:PORT]\n"
         "                  also publish every sample and link change to the MQTT broker\n"
         "                  at HOST (port 1883, or 8883 with --mqtt-cafile); samples are\n"
         "                  kept while the broker is away and published in order once it\n"
         "                  is back (Linux build only)\n"
         "  --mqtt-prefix P the topics' first levels (default devado/<host name>)\n"
         "  --mqtt-client-id ID\n"
         "                  the MQTT client id (default devado-<host name>-<instance>)\n"
         "  --mqtt-user NAME, --mqtt-password-file FILE\n"
         "                  log in to the broker as NAME with the password that is the\n"
         "                  first line of FILE (a password is never taken on the command\n"
         "                  line)\n"
         "  --mqtt-cafile FILE\n"
         "                  TLS to the broker, its certificate checked against FILE\n"
         "  --mqtt-queue N  samples kept while the broker is away (default 10000); when\n"
         "                  full, the oldest go first and the count is reported\n"
         "  --mqtt-store FILE\n"
         "                  keep every sample in the store FILE (SQLite) until the broker\n"
         "                  has it: a broker away for hours, a restart or a crash of the\n"
         "                  runner loses none; replayed samples are marked historical\n"
         "  --mqtt-store-max SIZE\n"
         "                  the store's bound, in bytes or with K, M or G (default 1G,\n"
         "                  about 4 hours of 255 stations); when full, the oldest go first\n"
         "  --detail        the live view shows the driver's detail lines (level 0) too\n"
         "  --hex           print the driver information as bytes and stop (for comparing\n"
         "                  the builds of two platforms)\n"
         "  --version       the version of devado-host, and stop\n"
         "  --help, -h      this text\n"
         "\n"
         "Tag list: one tag per line, ADDRESS TYPE, where ADDRESS is the tag address as\n"
         "the host would give it (sssFcccc for a channel, sssAIR_FLOW for the air flow)\n"
         "and TYPE the gate type: float, signed16 (or int16), unsigned16 (or uint16).\n"
         "A # starts a comment; blank lines are skipped. A line in error is reported\n"
         "as FILE:LINE: message and nothing is run. Tags that the driver refuses are\n"
         "listed with the driver's reason; the run goes on with the others.\n"
         "\n"
         "  # station 1: two channels and the air flow\n"
         "  001F0000 float\n"
         "  001F0001 float\n"
         "  001AIR_FLOW unsigned16\n"
         "\n"
         "Live view (on a terminal): a block per station with its link state (with the\n"
         "cause of a failure), the time of its last sample, each channel's normalized\n"
         "value with a bar scaled to the station's largest value, and the air-flow\n"
         "state; a failed station's values stay, dimmed and marked STALE, until new data\n"
         "arrives. Below, the driver's latest log lines, each marked with its level: [32]\n"
         "an operational line, [0] a detail line (shown with --detail), [host] a link\n"
         "report to the host, [mqtt] what the MQTT broker session reports. NO_COLOR set\n"
         "to anything but empty turns colours off.\n"
         "\n"
         "Times in plain, JSON, CSV and log-file lines are ISO 8601 local times with the\n"
         "date and the zone's offset. The summary counts, per station, the samples (the\n"
         "driver writes a sample's gates in channel order, air flow last), the gate\n"
         "writes, the link failures and the recoveries.\n"
         "\n"
         "Exit status: 0 after a run in which every station connected and delivered\n"
         "(with --once or --samples: its samples), no tag was refused and no station was\n"
         "left failed; 1 when the driver library cannot be loaded, the init file cannot\n"
         "be read, the tag list has errors, the cold start fails, the driver accepts no\n"
         "tag, or (--mqtt) the MQTT settings cannot be used or the broker refuses the\n"
         "log-in; 2 for a bad command line; 3 when a station never connected, a tag was\n"
         "refused, a station failed and did not come back, or (--once, --samples) a\n"
         "station did not deliver, or (--mqtt) samples were dropped or never reached the\n"
         "broker, and for --check when something is wrong. So\n"
         "'devado-host --once && echo OK' tells whether an installation works.\n"
         "\n"
         "Examples:\n"
         "  devado-host --duration 60\n"
         "  devado-host --tags tags.txt --plain --log driver.log\n"
         "  devado-host --json --duration 10 > events.jsonl\n"
         "  devado-host --check --tags tags.txt\n"
         "  devado-host --once && echo OK\n"
         "  devado-host --plain --mqtt broker.plant.example --tags tags.txt\n"
         "\n"
         "MQTT topics (P: the prefix, i: the instance, sss: the station):\n"
         "  P/i/station/sss/sample  each sample: time, values, air flow, sequence (QoS 1)\n"
         "  P/i/station/sss/link    the link state and since when (QoS 1, retained)\n"
         "  P/i/status              online while running, offline once gone (retained)\n";
}
