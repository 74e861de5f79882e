#include "runner/console.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace {

volatile std::sig_atomic_t stopRequested = 0;
std::atomic<bool> catching{false};  // a stop signal only asks the run to stop

extern "C" void OnStopSignal(int) {
  stopRequested = 1;
}

// Where no thread of its own takes them, the stop signals' handlers only set the request.
void HandleStopSignals() {
  std::signal(SIGINT, OnStopSignal);
  std::signal(SIGTERM, OnStopSignal);
#ifdef SIGHUP
  std::signal(SIGHUP, OnStopSignal);
#endif
}

int FromEnvironment(const char *name, int fallback) {
  const char *text = std::getenv(name);
  int value = text != nullptr ? std::atoi(text) : 0;
  return value > 0 ? value : fallback;
}

bool AskTerminal(int *rows, int *columns);

}  // namespace

void TerminalSize(int *rows, int *columns) {
  if (AskTerminal(rows, columns) && *rows > 0 && *columns > 0) return;
  *rows = FromEnvironment("LINES", 24);
  *columns = FromEnvironment("COLUMNS", 80);
}

bool StopRequested() {
  return stopRequested != 0;
}

// The one place where the platforms differ beyond the platform layer.
#ifdef _WIN32
#include <io.h>
#include <windows.h>

namespace {

bool AskTerminal(int *rows, int *columns) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) return false;
  *rows = info.srWindow.Bottom - info.srWindow.Top + 1;
  *columns = info.srWindow.Right - info.srWindow.Left + 1;
  return true;
}

}  // namespace

bool StdoutIsTerminal() {
  return _isatty(_fileno(stdout)) != 0;
}

void WatchStopSignals() {}

void CatchStopSignals() {
  catching = true;
  HandleStopSignals();
}

void PrepareConsole(bool ansi) {
  SetConsoleOutputCP(CP_UTF8);
  if (!ansi) return;
  // Windows 10 and later interpret ANSI sequences once asked to.
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (GetConsoleMode(out, &mode)) SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

#else
#include <pthread.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <thread>

namespace {

bool watching = false;  // a thread takes the stop signals

sigset_t StopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}

// A stop signal that comes before the run catches them ends the program as the signal's
// default action does, from this thread.
void TakeStopSignals(sigset_t set) {
  for (;;) {
    int signal = 0;
    if (sigwait(&set, &signal) != 0) continue;
    if (catching) {
      OnStopSignal(signal);
      continue;
    }
    std::signal(signal, SIG_DFL);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, signal);
    pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    raise(signal);
  }
}

bool AskTerminal(int *rows, int *columns) {
  winsize size{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0) return false;
  *rows = size.ws_row;
  *columns = size.ws_col;
  return true;
}

}  // namespace

bool StdoutIsTerminal() {
  return isatty(STDOUT_FILENO) != 0;
}

void PrepareConsole(bool) {}

// Every thread started later inherits the blocked signals; only the watching thread takes
// them. Without that thread, the signals are left as they were.
void WatchStopSignals() {
  sigset_t set = StopSignals();
  if (pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) return;
  try {
    std::thread([set] { TakeStopSignals(set); }).detach();
    watching = true;
  } catch (...) {
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  }
}

// A closed terminal (SIGHUP) ends the run as Ctrl-C does: with the driver's end, the
// drain of what waits for the broker and the summary, not in the middle of them.
void CatchStopSignals() {
  catching = true;
  if (!watching) HandleStopSignals();
}

#endif
