#include "tests/runner/program_run.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#if !defined(_WIN32)
#include <sys/wait.h>
#endif

namespace testing_support {

std::string ReadFile(const std::string &name) {
  std::ifstream file(name, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

ProgramRun RunProgram(const std::string &path, const std::string &arguments) {
  ProgramRun run;
  run.status = std::system((path + " " + arguments + " >out.txt 2>err.txt").c_str());
  std::istringstream out(ReadFile("out.txt"));
  for (std::string line; std::getline(out, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    run.lines.push_back(line);
  }
  run.errors = ReadFile("err.txt");
  return run;
}

int ExitStatus(int systemResult) {
#if defined(_WIN32)
  return systemResult;
#else
  return WIFEXITED(systemResult) ? WEXITSTATUS(systemResult) : -1;
#endif
}

bool IsIsoTime(const std::string &text) {
  // D: a digit; every other character stands for itself; 'S' is the zone's sign.
  const std::string shape = "DDDD-DD-DDTDD:DD:DD.DDDSDD:DD";
  if (text.size() != shape.size()) return false;
  for (std::size_t i = 0; i < shape.size(); ++i) {
    char c = text[i];
    bool fits = shape[i] == 'D'   ? c >= '0' && c <= '9'
                : shape[i] == 'S' ? c == '+' || c == '-'
                                  : c == shape[i];
    if (!fits) return false;
  }
  return true;
}

}  // namespace testing_support
