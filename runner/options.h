// The command line of devado-host.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class OutputMode {
  kAuto,   // the live view on a terminal, plain lines otherwise
  kLive,   // the live view, also when standard output is not known as a terminal
  kPlain,  // one line per gate write and per link change
  kJson,   // the same events as JSON lines, with a closing summary
};

// Where the values are published, with --mqtt.
struct MqttSettings {
  std::string host;      // empty: nothing is published
  int port = 0;          // 0: 1883, or 8883 with a CA file (TLS)
  std::string prefix;    // empty: "devado/<host name>"
  std::string clientId;  // empty: "devado-<host name>-<instance>"
  std::string user;
  std::string passwordFile;  // the password is read from this file, never taken as text
  std::string caFile;        // set: TLS, with the broker's certificate checked against it
  int queue = 10000;         // samples kept while the broker is away; the oldest go first
  std::string storePath;     // set: samples go through a store on disk (store and forward)
  std::int64_t storeMax = std::int64_t{1} << 30;  // the store's bound in bytes

  bool Enabled() const { return !host.empty(); }
  int PortInUse() const { return port != 0 ? port : caFile.empty() ? 1883 : 8883; }
  // "host:port", with brackets around an IPv6 address.
  std::string BrokerText() const;
};

struct Options {
  std::string driverPath;  // empty: the driver beside the program
  std::string tagsPath;    // empty: the default tags of every configured station
  std::string logPath;     // empty: the driver's log lines are only shown
  int instance = 1;
  int channels = 6;
  int durationSeconds = 0;  // 0: until Ctrl-C or SIGTERM
  int samples = 0;          // >0: end once every station delivered this many samples
  std::string csvPath;      // empty: no CSV file
  OutputMode output = OutputMode::kAuto;
  MqttSettings mqtt;
  bool check = false;   // check the init file and the tags offline, and stop
  bool detail = false;  // the live view shows the driver's detail lines (level 0) too
  bool hex = false;
  bool help = false;
  bool version = false;
};

// False with a message in `error` for an unknown option, a missing or bad value.
bool ParseOptions(const std::vector<std::string> &args, Options *options, std::string *error);

std::string UsageText();
