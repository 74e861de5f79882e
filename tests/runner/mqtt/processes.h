// Programs that a test runs beside itself (the runner in the background, an MQTT
// broker), started, signalled and waited for as a service manager would.
#pragma once

#include <sys/types.h>
#include <chrono>
#include <string>
#include <vector>

namespace testing_support {

class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();  // kills a child still running
  ChildProcess(const ChildProcess &) = delete;
  ChildProcess &operator=(const ChildProcess &) = delete;

  // Runs `path` with `arguments` in the current directory, its standard output and error
  // into the files named (empty: /dev/null).
  bool Start(const std::string &path, const std::vector<std::string> &arguments,
             const std::string &outFile = "", const std::string &errFile = "");
  void Signal(int signal) const;
  // The exit status, or -1 for a child killed by a signal or still running at the deadline.
  int Wait(std::chrono::milliseconds deadline);
  bool Running();

 private:
  pid_t pid_ = -1;
  int status_ = 0;
  bool ended_ = false;
};

// A mosquitto broker of the test's own, on a loopback address and a free port.
class Broker {
 public:
  struct Settings {
    std::string passwordFile;    // set: only the users in it may connect
    bool keepsMessages = false;  // persistence: retained messages and sessions outlive a restart
    std::string aclFile;         // set: what each client may publish and read
    std::string certificate;     // set, with its key: TLS only
    std::string key;
  };

  Broker(const std::string &address, Settings settings);
  ~Broker();

  // Starts the broker (again, on the same port after Stop) and waits until it listens.
  bool Start();
  // SIGTERM, as a service stop: the broker saves what it keeps and ends.
  void Stop();

  const std::string &Address() const { return address_; }
  int Port() const { return port_; }
  std::string HostPort() const { return address_ + ":" + std::to_string(port_); }
  std::string Log() const;

 private:
  std::string address_;
  int port_ = 0;
  Settings settings_;
  std::string directory_;
  ChildProcess process_;
};

// A listener that takes connections (the kernel completes them) and never says a word:
// a broker that hangs.
class SilentListener {
 public:
  explicit SilentListener(const std::string &address);
  ~SilentListener();
  SilentListener(const SilentListener &) = delete;
  SilentListener &operator=(const SilentListener &) = delete;
  bool ok() const { return socket_ >= 0; }
  int Port() const { return port_; }

 private:
  int socket_ = -1;
  int port_ = 0;
};

// Whether something accepts connections on address:port.
bool Listening(const std::string &address, int port);

// A port on `address` that nothing uses at the moment.
int FreePort(const std::string &address);

// Waits, checking every 20 ms, until `done` holds or the deadline passes.
template <typename Condition>
bool WaitUntil(Condition done, std::chrono::milliseconds deadline) {
  auto end = std::chrono::steady_clock::now() + deadline;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    struct timespec pause = {0, 20 * 1000 * 1000};
    nanosleep(&pause, nullptr);
  }
  return true;
}

}  // namespace testing_support
