// The runner's output on a reader that stalls: whoever puts a line goes on, lines beyond
// the bound are counted, and a line says so once the reader is back.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <thread>

#include "runner/line_writer.h"

namespace {

std::string DroppedLine(long dropped) {
  return "devado-host: " + std::to_string(dropped) +
         " lines of output dropped: the output was not read in time";
}

TEST(LineWriter, AStalledReaderCostsCountedLinesNotTheCallersTime) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  fcntl(ends[1], F_SETPIPE_SZ, 4096);
  std::FILE *out = fdopen(ends[1], "w");
  ASSERT_NE(out, nullptr);
  constexpr int kLines = 6000;  // 6 MB, beyond the queue's 4 MB
  const std::string line(999, 'x');
  std::string text;
  std::thread reader;
  long dropped = 0;
  {
    LineWriter writer(out);
    for (int i = 0; i < kLines; ++i) writer.Put(line);  // nobody reads yet
    dropped = writer.Dropped();
    EXPECT_GT(dropped, 0);
    reader = std::thread([&] {
      char chunk[65536];
      for (ssize_t got; (got = read(ends[0], chunk, sizeof chunk)) > 0;) text.append(chunk, got);
    });
  }  // what was kept is written before the writer goes
  std::fclose(out);
  reader.join();
  close(ends[0]);
  std::istringstream lines(text);
  int kept = 0;
  long told = 0;  // drops during different batches are told in as many lines
  for (std::string got; std::getline(lines, got);) {
    kept += got == line;
    long count = 0;
    if (std::sscanf(got.c_str(), "devado-host: %ld lines", &count) == 1 &&
        got == DroppedLine(count))
      told += count;
  }
  EXPECT_EQ(kept + dropped, kLines);
  EXPECT_EQ(told, dropped);
}

// Drops that come while the last batch is being written have no line after them to carry
// their count; a line too long for the queue is dropped with no batch at all.
TEST(LineWriter, DropsWithNoLineAfterThemAreStillTold) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  std::FILE *out = fdopen(ends[1], "w");
  ASSERT_NE(out, nullptr);
  std::string text;
  std::thread reader([&] {
    char chunk[4096];
    for (ssize_t got; (got = read(ends[0], chunk, sizeof chunk)) > 0;) text.append(chunk, got);
  });
  {
    LineWriter writer(out);
    writer.Put(std::string(LineWriter::kQueuedBytes + 1, 'x'));
    EXPECT_EQ(writer.Dropped(), 1);
  }
  std::fclose(out);
  reader.join();
  close(ends[0]);
  EXPECT_EQ(text, DroppedLine(1) + "\n");
}

}  // namespace
#endif
