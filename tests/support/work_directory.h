// A fresh current directory for a test, removed again at its end: the driver reads its
// init file from the current directory.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace testing_support {

class WorkDirectory {
 public:
  WorkDirectory();
  ~WorkDirectory();
  WorkDirectory(const WorkDirectory &) = delete;
  WorkDirectory &operator=(const WorkDirectory &) = delete;

  // Writes a file in the directory, byte for byte.
  void Write(const std::string &name, const std::string &content) const;
  // Writes the lines of an instance's init file, each ended by `lineEnd`.
  void WriteInitFile(int instance, const std::vector<std::string> &lines,
                     const std::string &lineEnd = "\n") const;

 private:
  std::filesystem::path previous_;
  std::filesystem::path path_;
};

}  // namespace testing_support
