#include "tests/support/work_directory.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <random>

namespace testing_support {

WorkDirectory::WorkDirectory() : previous_(std::filesystem::current_path()) {
  std::random_device random;
  path_ = std::filesystem::temp_directory_path() /
          ("devado-test-" + std::to_string(random()) + std::to_string(random()));
  std::filesystem::create_directories(path_);
  std::filesystem::current_path(path_);
}

WorkDirectory::~WorkDirectory() {
  std::error_code ignored;
  std::filesystem::current_path(previous_, ignored);
  std::filesystem::remove_all(path_, ignored);
}

void WorkDirectory::Write(const std::string &name, const std::string &content) const {
  std::ofstream file(path_ / name, std::ios::binary);
  file << content;
}

void WorkDirectory::WriteInitFile(int instance, const std::vector<std::string> &lines,
                                  const std::string &lineEnd) const {
  char name[32];
  std::snprintf(name, sizeof name, "DEVADO%02d.int", instance);
  std::string content;
  for (const std::string &line : lines) content += line + lineEnd;
  Write(name, content);
}

}  // namespace testing_support
