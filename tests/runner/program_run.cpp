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

}  // namespace testing_support
