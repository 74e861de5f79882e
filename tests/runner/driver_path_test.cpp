// Where devado-host looks for the driver when no --driver is given: beside itself, as in
// the build tree and the Windows tools folder, and, installed on Linux, in the private
// library folder. The driver's file names are this test's own (see CMakeLists.txt).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#if defined(__linux__)
#include <unistd.h>
#endif

#include "runner/driver_library.h"
#include "tests/support/work_directory.h"

namespace {

using testing_support::WorkDirectory;

const std::string kBeside = std::string("bin/") + DEVADO_DRIVER_FILE;

// An empty file at `path`, relative to the current directory, with its folders.
void Touch(const std::string &path) {
  std::filesystem::path file(path);
  if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary).put('\0');
  ASSERT_TRUE(std::filesystem::exists(file)) << path;
}

TEST(DriverPath, TheDriverBesideTheProgram) {
  WorkDirectory directory;
  Touch(kBeside);
  EXPECT_EQ(DefaultDriverPath("bin/devado-host"), kBeside);
}

TEST(DriverPath, BesideTheProgramEvenWhenThereIsNone) {
  WorkDirectory directory;
  std::filesystem::create_directories("bin");
  EXPECT_EQ(DefaultDriverPath("bin/devado-host"), kBeside);
}

#if defined(DEVADO_INSTALLED_DRIVER)
const std::string kInstalled = std::string("bin/") + DEVADO_INSTALLED_DRIVER;

TEST(DriverPath, TheInstalledDriverWhenThereIsNoneBesideTheProgram) {
  WorkDirectory directory;
  Touch(kInstalled);
  std::filesystem::create_directories("bin");
  EXPECT_EQ(DefaultDriverPath("bin/devado-host"), kInstalled);
}

TEST(DriverPath, ADriverBesideTheProgramComesBeforeTheInstalledOne) {
  WorkDirectory directory;
  Touch(kInstalled);
  Touch(kBeside);
  EXPECT_EQ(DefaultDriverPath("bin/devado-host"), kBeside);
}
#endif

#if defined(__linux__)
// A program started through PATH has no folder in its name: its folder is the one the
// running program is in, not the current directory.
TEST(DriverPath, AProgramStartedThroughPathLooksInItsOwnFolder) {
  std::string self = std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
  WorkDirectory directory;
  Touch(DEVADO_DRIVER_FILE);  // in the current directory, where it must not be looked for
  EXPECT_EQ(DefaultDriverPath("devado-host"), self + "/" + DEVADO_DRIVER_FILE);
}
#endif

}  // namespace
