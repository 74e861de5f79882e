#include "tests/runner/mqtt/processes.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

extern char **environ;

namespace testing_support {

namespace {

sockaddr_in AddressOf(const std::string &address, int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<unsigned short>(port));
  inet_pton(AF_INET, address.c_str(), &a.sin_addr);
  return a;
}

}  // namespace

bool Listening(const std::string &address, int port) {
  int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = AddressOf(address, port);
  bool ok = connect(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
  close(s);
  return ok;
}

int FreePort(const std::string &address) {
  int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = AddressOf(address, 0);
  socklen_t size = sizeof a;
  int port = 0;
  if (bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 &&
      getsockname(s, reinterpret_cast<sockaddr *>(&a), &size) == 0) {
    port = ntohs(a.sin_port);
  }
  close(s);
  return port;
}

SilentListener::SilentListener(const std::string &address) {
  port_ = FreePort(address);
  socket_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = AddressOf(address, port_);
  if (bind(socket_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || listen(socket_, 8) != 0) {
    close(socket_);
    socket_ = -1;
  }
}

SilentListener::~SilentListener() {
  if (socket_ >= 0) close(socket_);
}

ChildProcess::~ChildProcess() {
  if (Running()) {
    Signal(SIGKILL);
    Wait(std::chrono::seconds(10));
  }
}

bool ChildProcess::Start(const std::string &path, const std::vector<std::string> &arguments,
                         const std::string &outFile, const std::string &errFile) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const char *out = outFile.empty() ? "/dev/null" : outFile.c_str();
  const char *err = errFile.empty() ? "/dev/null" : errFile.c_str();
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<char *> argv;
  argv.push_back(const_cast<char *>(path.c_str()));
  for (const std::string &a : arguments) argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  int rc = posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ended_ = rc != 0;
  if (rc != 0) pid_ = -1;
  return rc == 0;
}

void ChildProcess::Signal(int signal) const {
  if (pid_ > 0 && !ended_) kill(pid_, signal);
}

bool ChildProcess::Running() {
  if (pid_ <= 0 || ended_) return false;
  if (waitpid(pid_, &status_, WNOHANG) == pid_) ended_ = true;
  return !ended_;
}

int ChildProcess::Wait(std::chrono::milliseconds deadline) {
  WaitUntil([this] { return !Running(); }, deadline);
  if (!ended_) return -1;
  return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
}

Broker::Broker(const std::string &address, Settings settings)
    : address_(address), port_(FreePort(address)), settings_(std::move(settings)) {
  char pattern[] = "/tmp/devado-broker-XXXXXX";
  directory_ = mkdtemp(pattern) != nullptr ? pattern : "/tmp";
  std::ofstream conf(directory_ + "/broker.conf");
  conf << "listener " << port_ << " " << address_ << "\n";
  // Run as root, the broker would become the user mosquitto, who cannot use this folder.
  if (getuid() == 0) conf << "user root\n";
  // A subscriber that falls behind a replay keeps every message, as a historian's would.
  conf << "max_queued_messages 10000000\n";
  if (settings_.passwordFile.empty()) {
    conf << "allow_anonymous true\n";
  } else {
    conf << "allow_anonymous false\npassword_file " << settings_.passwordFile << "\n";
  }
  if (!settings_.certificate.empty()) {
    conf << "certfile " << settings_.certificate << "\nkeyfile " << settings_.key << "\n";
  }
  if (!settings_.aclFile.empty()) conf << "acl_file " << settings_.aclFile << "\n";
  if (settings_.keepsMessages) {
    conf << "persistence true\npersistence_location " << directory_ << "/\n";
  }
}

Broker::~Broker() {
  Stop();
  std::error_code ignored;
  std::filesystem::remove_all(directory_, ignored);
}

bool Broker::Start() {
  std::string log = directory_ + "/broker.log";
  // Each start appends to the log; a start that fails says why there.
  if (!process_.Start(MOSQUITTO_BROKER_PATH, {"-c", directory_ + "/broker.conf"}, log + ".out",
                      log + ".err")) {
    return false;
  }
  return WaitUntil([this] { return Listening(address_, port_) || !process_.Running(); },
                   std::chrono::seconds(10)) &&
         process_.Running();
}

void Broker::Stop() {
  if (!process_.Running()) return;
  process_.Signal(SIGTERM);
  if (process_.Wait(std::chrono::seconds(10)) < 0) {
    process_.Signal(SIGKILL);
    process_.Wait(std::chrono::seconds(10));
  }
}

std::string Broker::Log() const {
  std::ifstream in(directory_ + "/broker.log.err");
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace testing_support
