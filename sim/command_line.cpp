#include "sim/command_line.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace sim {
namespace {

// Decimal, or hexadecimal with 0x; the whole text must be the number.
bool ToNumber(const std::string &text, long long low, long long high, long long *value) {
  bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  if (text.empty() || text[0] == ' ') return false;
  char *end = nullptr;
  errno = 0;
  long long parsed = std::strtoll(text.c_str(), &end, hex ? 16 : 10);
  if (errno != 0 || *end != '\0' || parsed < low || parsed > high) return false;
  *value = parsed;
  return true;
}

template <typename T>
bool SetNumber(const std::string &text, long long low, long long high, T *member) {
  long long value = 0;
  if (!ToNumber(text, low, high, &value)) return false;
  *member = static_cast<T>(value);
  return true;
}

struct Setting {
  const char *name;
  const char *value;
  const char *help;
  bool (*apply)(const std::string &text, Options *options);
};

const Setting kSettings[] = {
    {"--channels", "N", "size channels per sample, 0 to 32 (default 6)",
     [](const std::string &t, Options *o) {
       return SetNumber(t, 0, kMaxChannels, &o->channelCount);
     }},
    {"--volume", "N", "raw sample volume, field 116 (default 2832)",
     [](const std::string &t, Options *o) {
       return SetNumber(t, INT32_MIN, INT32_MAX, &o->sampleVolume);
     }},
    {"--exponent", "N", "decimal exponent of the volume, field 144 (default 0)",
     [](const std::string &t, Options *o) {
       return SetNumber(t, INT16_MIN, INT16_MAX, &o->volumeExponent);
     }},
    {"--flags", "N",
     "status flags, field 119: 1 laser ok, 2 flow ok, 4 laser reported,\n"
     "      8 flow reported (default 0x0F)",
     [](const std::string &t, Options *o) { return SetNumber(t, 0, 255, &o->statusFlags); }},
    {"--seed", "N", "seed of the sample counts; the same seed gives the same samples (default 1)",
     [](const std::string &t, Options *o) { return SetNumber(t, 0, UINT32_MAX, &o->seed); }},
    {"--period-ms", "MS", "sample period; 0 takes it from the driver's field 106 (default 0)",
     [](const std::string &t, Options *o) { return SetNumber(t, 0, INT_MAX, &o->samplePeriodMs); }},
    {"--fault", "MODE",
     "misbehaviour (default none):\n"
     "      none         a well-behaved station\n"
     "      silent       accepts and reads, sends nothing at all\n"
     "      close        orderly close after N packets on a connection\n"
     "      reset        reset (RST) after N packets on a connection\n"
     "      garbage      random bytes instead of each packet\n"
     "      wrong-magic  packets whose magic is not 0xDEADBEEF\n"
     "      bad-length   packets whose total length is impossible\n"
     "      split        each packet in pieces, with pauses between them\n"
     "      burst        N sample packets in one write, each period\n"
     "      refuse       no listener: connects are refused\n"
     "      late         a full backlog: connects do not complete",
     [](const std::string &t, Options *o) { return ParseFaultMode(t, &o->fault); }},
    {"--fault-count", "N", "the N of close, reset and burst (default 3)",
     [](const std::string &t, Options *o) { return SetNumber(t, 0, INT_MAX, &o->faultCount); }},
    {"--bad-length", "N",
     "total length written by bad-length; 0 alternates 100000 and 17\n"
     "      (default 0)",
     [](const std::string &t, Options *o) {
       return SetNumber(t, INT32_MIN, INT32_MAX, &o->impossibleLength);
     }},
    {"--split-pieces", "N", "pieces per packet for split (default 3)",
     [](const std::string &t, Options *o) { return SetNumber(t, 1, 1000, &o->splitPieces); }},
    {"--split-pause-ms", "MS", "pause between the pieces for split (default 50)",
     [](const std::string &t, Options *o) { return SetNumber(t, 0, 60000, &o->splitPauseMs); }},
    {"--type", "TEXT", "instrument type text, field 110",
     [](const std::string &t, Options *o) {
       o->instrumentType = t;
       return true;
     }},
    {"--instrument-version", "TEXT", "instrument version text, field 111",
     [](const std::string &t, Options *o) {
       o->instrumentVersion = t;
       return true;
     }},
};

const Setting *FindSetting(const std::string &name) {
  for (const Setting &setting : kSettings) {
    if (name == setting.name) return &setting;
  }
  return nullptr;
}

bool AddStation(const std::string &address, const Options &defaults,
                const SilentSpell &defaultSilence, CommandLine *commandLine, std::string *error) {
  if (!IsLoopbackAddress(address)) {
    *error = "address '" + address +
             "' is not in 127.0.0.0/8: the simulator serves loopback addresses only";
    return false;
  }
  for (const Options &station : commandLine->stations) {
    if (station.address == address) {
      *error = "address " + address + " is given twice";
      return false;
    }
  }
  commandLine->stations.push_back(defaults);
  commandLine->stations.back().address = address;
  commandLine->silences.push_back(defaultSilence);
  return true;
}

bool IsScheduleOption(const std::string &name) {
  return name == "--silent-from" || name == "--silent-for";
}

bool SetSchedule(const std::string &name, const std::string &value, SilentSpell *spell) {
  if (name == "--silent-from") return SetNumber(value, 0, INT_MAX / 1000, &spell->fromSeconds);
  return SetNumber(value, 1, INT_MAX / 1000, &spell->forSeconds);
}

}  // namespace

bool ParseCommandLine(const std::vector<std::string> &args, CommandLine *commandLine,
                      std::string *error) {
  Options defaults;
  SilentSpell defaultSilence;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string &name = args[i];
    if (name == "--help" || name == "-h") {
      commandLine->help = true;
      continue;
    }
    if (name == "--version") {
      commandLine->version = true;
      continue;
    }
    if (name == "--quiet") {
      commandLine->quiet = true;
      continue;
    }
    if (name == "--no-stdin") {
      commandLine->watchInput = false;
      continue;
    }
    const Setting *setting = FindSetting(name);
    bool known =
        setting != nullptr || name == "--address" || name == "--seconds" || IsScheduleOption(name);
    if (!known) {
      *error = "unknown option '" + name + "'";
      return false;
    }
    if (i + 1 >= args.size()) {
      *error = "option " + name + " needs a value";
      return false;
    }
    const std::string &value = args[++i];
    bool ok = true;
    if (name == "--address") {
      if (!AddStation(value, defaults, defaultSilence, commandLine, error)) return false;
    } else if (IsScheduleOption(name)) {
      ok = SetSchedule(
          name, value,
          commandLine->silences.empty() ? &defaultSilence : &commandLine->silences.back());
    } else if (name == "--seconds") {
      ok = SetNumber(value, 1, INT_MAX / 1000, &commandLine->seconds);
      commandLine->watchInput = false;
    } else {
      Options *target = commandLine->stations.empty() ? &defaults : &commandLine->stations.back();
      ok = setting->apply(value, target);
    }
    if (!ok) {
      *error = "bad value '" + value + "' for " + name;
      return false;
    }
  }
  if (commandLine->stations.empty()) {
    commandLine->stations.push_back(defaults);
    commandLine->silences.push_back(defaultSilence);
  }
  return true;
}

std::string Usage() {
  std::string text =
      "Usage: countnet-sim [SETTINGS] --address 127.0.0.N [SETTINGS] [--address ...]\n"
      "\n"
      "Simulates CountNet particle counter stations, each on its own loopback address\n"
      "and TCP port 1561. A station sends its configuration information when the driver\n"
      "connects, pushes one sample per update period once the driver has configured\n"
      "sampling and started it, and closes the connection when the driver leaves.\n"
      "Everything a station receives is logged, decoded, on standard output.\n"
      "\n"
      "Stations:\n"
      "  --address A\n"
      "      starts a station on A (127.0.0.0/8 only; default: one station on\n"
      "      127.0.0.1). The settings after it are this station's; settings before the\n"
      "      first --address apply to every station.\n"
      "\n"
      "Station settings:\n";
  for (const Setting &setting : kSettings) {
    text +=
        "  " + std::string(setting.name) + " " + setting.value + "\n      " + setting.help + "\n";
  }
  text +=
      "  --silent-from S\n"
      "      from S seconds after the start, send nothing (as fault mode silent), so\n"
      "      that the driver declares the link failed; connections are still accepted\n"
      "  --silent-for S\n"
      "      end the silence after S seconds (default: silent until the end)\n"
      "\n"
      "Running:\n"
      "  --seconds N\n"
      "      stop after N seconds, or at Ctrl-C or SIGTERM; standard input is then\n"
      "      ignored (default: run until Ctrl-C, SIGTERM or the end of standard input)\n"
      "  --no-stdin\n"
      "      run until Ctrl-C and ignore standard input (for a run in the background)\n"
      "  --quiet\n"
      "      log nothing; otherwise each line starts with its ISO 8601 local time\n"
      "  --version\n"
      "      the simulator's version, and stop\n"
      "  --help, -h\n"
      "      this text\n"
      "\n"
      "Exit status: 0 after a run, 1 when a station cannot start, 2 for a wrong command\n"
      "line, 3 when a station's address and port are in use by another program.\n"
      "\n"
      "Example: two stations, the second splitting its packets:\n"
      "  countnet-sim --channels 6 --address 127.0.0.21 --address 127.0.0.22 --fault split\n"
      "Example: a station that goes silent 20 s after the start and comes back 15 s later:\n"
      "  countnet-sim --address 127.0.0.21 --silent-from 20 --silent-for 15\n";
  return text;
}

}  // namespace sim
