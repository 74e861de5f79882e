// err() and the log sinks.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "tests/hevpro/hevpro_fixture.h"

namespace {

class HevLogging : public HevFixture {};

struct Line {
  int level;
  std::string text;
  bool operator==(const Line &other) const { return level == other.level && text == other.text; }
};

std::vector<Line> CapturedLines() {
  std::vector<Line> lines;
  for (int i = 0; i < HevCtlCapturedCount(); ++i) {
    int level = -1;
    char text[4096];
    EXPECT_EQ(HevCtlCapturedLine(i, &level, text, sizeof text), 0);
    lines.push_back(Line{level, text});
  }
  return lines;
}

void Collect(void *context, int level, const char *line) {
  static_cast<std::vector<Line> *>(context)->push_back(Line{level, line});
}

// "HH:MM:SS.mmm [level] text": the stamp's shape only, its value is the clock's.
bool IsStampedLine(const std::string &line, int level, const std::string &text) {
  const std::string shape = "dd:dd:dd.ddd ";
  if (line.size() < shape.size()) return false;
  for (size_t i = 0; i < shape.size(); ++i) {
    bool digit = line[i] >= '0' && line[i] <= '9';
    if (shape[i] == 'd' ? !digit : line[i] != shape[i]) return false;
  }
  return line.substr(shape.size()) == "[" + std::to_string(level) + "] " + text;
}

std::vector<std::string> ReadLines(const std::string &path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST_F(HevLogging, CaptureKeepsFormattedLinesWithTheirLevels) {
  HevCtlCaptureStart();
  err(kLogOperational, "station %d: %s", 7, "up");
  err(kLogDetail, "%05.1f|%x|%c", 3.14159, 255, 'q');
  err(5, "no arguments");
  std::vector<Line> expected = {
      {kLogOperational, "station 7: up"}, {kLogDetail, "003.1|ff|q"}, {5, "no arguments"}};
  EXPECT_EQ(CapturedLines(), expected);

  int level = -1;
  char text[5];
  EXPECT_EQ(HevCtlCapturedLine(0, &level, text, sizeof text), 0);
  EXPECT_STREQ(text, "stat");
  EXPECT_NE(HevCtlCapturedLine(3, &level, text, sizeof text), 0);
  EXPECT_NE(HevCtlCapturedLine(-1, &level, text, sizeof text), 0);

  HevCtlCaptureStop();
  err(kLogOperational, "after stop");
  EXPECT_EQ(CapturedLines(), expected);
  HevCtlCaptureStart();
  EXPECT_EQ(HevCtlCapturedCount(), 0);
  HevCtlReset();
  err(kLogOperational, "after reset");
  EXPECT_EQ(HevCtlCapturedCount(), 0) << "reset must switch capture off";
}

TEST_F(HevLogging, CaptureKeepsOnlyTheNewestLines) {
  constexpr int kKept = 100000;
  constexpr int kExtra = 5;
  HevCtlCaptureStart();
  for (int i = 0; i < kKept + kExtra; ++i) err(kLogDetail, "line %d", i);
  ASSERT_EQ(HevCtlCapturedCount(), kKept);
  char text[32];
  ASSERT_EQ(HevCtlCapturedLine(0, nullptr, text, sizeof text), 0);
  EXPECT_STREQ(text, "line 5");
  ASSERT_EQ(HevCtlCapturedLine(kKept - 1, nullptr, text, sizeof text), 0);
  EXPECT_STREQ(text, "line 100004");
}

TEST_F(HevLogging, CallbackGetsTheRawLineAndLevelUntilTheSinkChanges) {
  std::vector<Line> received;
  HevCtlLogToCallback(Collect, &received);
  err(kLogOperational, "link %s", "down");
  err(kLogDetail, "ends with newline\n");
  HevCtlLogToCallback(nullptr, nullptr);
  err(kLogOperational, "not delivered");
  std::vector<Line> expected = {{kLogOperational, "link down"},
                                {kLogDetail, "ends with newline\n"}};
  EXPECT_EQ(received, expected);
}

// A host that switched logging off pays nothing for lines; every listener that comes back
// hears the lines from then on.
TEST_F(HevLogging, ListenersAfterLoggingWasOffHearNewLines) {
  HevCtlLogOff();
  err(kLogOperational, "nobody listens");
  HevCtlCaptureStart();
  err(kLogOperational, "captured %d", 1);
  EXPECT_EQ(CapturedLines(), (std::vector<Line>{{kLogOperational, "captured 1"}}));
  HevCtlCaptureStop();
  std::vector<Line> received;
  HevCtlLogToCallback(Collect, &received);
  err(kLogDetail, "delivered %s", "too");
  HevCtlLogOff();
  err(kLogDetail, "off again");
  EXPECT_EQ(received, (std::vector<Line>{{kLogDetail, "delivered too"}}));
  EXPECT_EQ(CapturedLines(), (std::vector<Line>{{kLogOperational, "captured 1"}}));
}

void LogFromInside(void *context, int level, const char *line) {
  Collect(context, level, line);
  err(level, "nested");
}

TEST_F(HevLogging, CallbackThatLogsItselfDoesNotDeadlock) {
  std::vector<Line> received;
  HevCtlCaptureStart();
  HevCtlLogToCallback(LogFromInside, &received);
  err(1, "outer");
  std::vector<Line> expected = {{1, "outer"}};
  EXPECT_EQ(received, expected);
  EXPECT_EQ(CapturedLines(), expected);
}

TEST_F(HevLogging, OverlongLineIsTruncatedNotOverflowed) {
  const std::string huge(20000, 'x');
  std::vector<Line> received;
  HevCtlCaptureStart();
  HevCtlLogToCallback(Collect, &received);
  err(kLogOperational, "%s|%s", huge.c_str(), "tail");
  ASSERT_EQ(received.size(), 1u);
  const std::string &text = received[0].text;
  EXPECT_GE(text.size(), 1000u);
  EXPECT_LT(text.size(), 4096u);
  EXPECT_EQ(text.find_first_not_of('x'), std::string::npos);
  ASSERT_EQ(HevCtlCapturedCount(), 1);
  EXPECT_EQ(CapturedLines()[0].text, text);
}

TEST_F(HevLogging, FileSinkAppendsTimeStampedLines) {
  const std::string path = testing::TempDir() + "hevpro_log_sink_test.log";
  {
    std::ofstream existing(path, std::ios::trunc);
    existing << "existing\n";
  }
  ASSERT_EQ(HevCtlLogToFile(path.c_str()), 0);
  err(kLogOperational, "first %d", 1);
  err(kLogDetail, "second\n");
  HevCtlLogToStderr();  // closes the file
  err(kLogOperational, "not in the file");

  std::vector<std::string> lines = ReadLines(path);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "existing");
  EXPECT_TRUE(IsStampedLine(lines[1], kLogOperational, "first 1")) << lines[1];
  EXPECT_TRUE(IsStampedLine(lines[2], kLogDetail, "second")) << lines[2];
  std::remove(path.c_str());

  EXPECT_NE(HevCtlLogToFile((testing::TempDir() + "no/such/dir/x.log").c_str()), 0);
  EXPECT_NE(HevCtlLogToFile(nullptr), 0);
}

TEST_F(HevLogging, StandardErrorIsTheSinkAfterReset) {
  HevCtlReset();
  testing::internal::CaptureStderr();
  err(kLogOperational, "to stderr %d", 3);
  std::string output = testing::internal::GetCapturedStderr();
  ASSERT_FALSE(output.empty());
  EXPECT_EQ(output.back(), '\n');
  output.pop_back();
  EXPECT_TRUE(IsStampedLine(output, kLogOperational, "to stderr 3")) << output;
}

}  // namespace
