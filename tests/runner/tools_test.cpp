// What both programs owe a user and a script besides their work: a version, and (on
// POSIX) a clean end when asked to stop by a signal.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>

#if !defined(_WIN32)
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "tests/runner/program_run.h"
#include "tests/support/loopback.h"
#include "tests/support/work_directory.h"

namespace {

using testing_support::ExitStatus;
using testing_support::ReadFile;
using testing_support::RunProgram;
using testing_support::WorkDirectory;

const std::string kHost = std::filesystem::absolute(DEVADO_HOST_PATH).string();
const std::string kSim = std::filesystem::absolute(COUNTNET_SIM_PATH).string();

TEST(Tools, EachTellsItsVersion) {
  WorkDirectory directory;
  for (const auto &[program, name] : {std::pair{kHost, "devado-host"}, {kSim, "countnet-sim"}}) {
    testing_support::ProgramRun run = RunProgram(program, "--version");
    EXPECT_EQ(ExitStatus(run.status), 0) << name << ": " << run.errors;
    EXPECT_EQ(run.lines, std::vector<std::string>{std::string(name) + " " + DEVADO_VERSION});
  }
}

#if !defined(_WIN32)
// Starts the simulator with one station, its output in sim.txt; the process id, or -1.
pid_t StartSimulator(const std::string &address) {
  pid_t child = fork();
  if (child != 0) return child;
  int out = open("sim.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
  dup2(out, 1);
  dup2(out, 2);
  execl(kSim.c_str(), kSim.c_str(), "--address", address.c_str(), "--no-stdin",
        static_cast<char *>(nullptr));
  _exit(127);
}

// Waits for the child's end; its wait status, or -1 when it is still running at the deadline.
int WaitForEnd(pid_t child, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  int status = 0;
  while (waitpid(child, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return status;
}

bool WaitForOutput(const std::string &text, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (ReadFile("sim.txt").find(text) == std::string::npos) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

TEST(Tools, TheSimulatorEndsCleanlyOnSigintAndSigterm) {
  for (int signal : {SIGINT, SIGTERM}) {
    WorkDirectory directory;
    std::string address = testing_support::TestAddress(signal);
    pid_t child = StartSimulator(address);
    ASSERT_GT(child, 0);
    ASSERT_TRUE(WaitForOutput("listening on port 1561", 30000)) << ReadFile("sim.txt");
    kill(child, signal);
    int status = WaitForEnd(child, 30000);
    std::string output = ReadFile("sim.txt");
    ASSERT_TRUE(WIFEXITED(status)) << "signal " << signal << ":\n" << output;
    EXPECT_EQ(WEXITSTATUS(status), 0) << output;
    EXPECT_NE(output.find(address + " done: 0 connections"), std::string::npos) << output;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
      std::size_t gap = line.find("  ");
      EXPECT_TRUE(gap != std::string::npos && testing_support::IsIsoTime(line.substr(0, gap)))
          << line;
    }
  }
}
#endif

}  // namespace
