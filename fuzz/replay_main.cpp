// Runs the fuzz target over files without the fuzzing engine, so that the checked-in
// corpus is a regression test on every build (and under Wine for the Windows build).
// Arguments are files or directories (whose regular files are taken, sorted by name).
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace fs = std::filesystem;

namespace {

std::vector<fs::path> InputsOf(const fs::path &argument) {
  std::vector<fs::path> inputs;
  std::error_code error;
  if (fs::is_directory(argument, error)) {
    for (const fs::directory_entry &entry : fs::directory_iterator(argument, error)) {
      if (entry.is_regular_file(error)) inputs.push_back(entry.path());
    }
    std::sort(inputs.begin(), inputs.end());
  } else if (fs::is_regular_file(argument, error)) {
    inputs.push_back(argument);
  } else {
    fprintf(stderr, "no such file or directory: %s\n", argument.string().c_str());
  }
  return inputs;
}

bool Run(const fs::path &input) {
  std::ifstream file(input, std::ios::binary);
  if (!file) {
    fprintf(stderr, "cannot read %s\n", input.string().c_str());
    return false;
  }
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                             std::istreambuf_iterator<char>());
  // An empty vector's data() may be null; the engine never passes null.
  static const uint8_t kNothing = 0;
  LLVMFuzzerTestOneInput(bytes.empty() ? &kNothing : bytes.data(), bytes.size());
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  int ran = 0;
  int unreadable = 0;
  for (int i = 1; i < argc; ++i) {
    for (const fs::path &input : InputsOf(argv[i])) {
      if (Run(input)) {
        ++ran;
      } else {
        ++unreadable;
      }
    }
  }
  printf("ran %d inputs\n", ran);
  if (ran == 0) {
    fprintf(stderr, "no inputs found\n");
    return 1;
  }
  return unreadable == 0 ? 0 : 1;
}
