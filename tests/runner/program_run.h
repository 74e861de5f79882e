// Runs one of the project's programs as a user would, in the current directory, and keeps
// what it printed.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

struct ProgramRun {
  int status = 0;                  // as std::system returns it
  std::vector<std::string> lines;  // standard output, line by line
  std::string errors;              // standard error
};

std::string ReadFile(const std::string &name);

// The path is left unquoted: the shells of the two platforms quote differently, so it
// must hold no blank.
ProgramRun RunProgram(const std::string &path, const std::string &arguments);

// The exit status of a run (std::system's result is a wait status on POSIX).
int ExitStatus(int systemResult);

// Whether `text` is an ISO 8601 time as the programs write it: 2026-12-09T14:03:07.125+01:00.
// (Checked by hand: std::regex trips a false uninitialised-use warning under the
// sanitizers with this compiler.)
bool IsIsoTime(const std::string &text);

}  // namespace testing_support
