#include "config/init_file.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "config/line_scanner.h"
#include "contracts/host_runtime.h"
#include "link/station_address.h"

namespace {

constexpr int kMaxLines = 1000;
constexpr int kLineBufferSize = 500;
constexpr int kMaxPieceLength = 255;  // a longer line is read in pieces of this length
constexpr std::uint32_t kMinUpdateRate = 1;
constexpr std::uint32_t kMaxUpdateRate = 1000;
constexpr int kStationDigits = 3;

// Reads lines as text mode does on Windows, on every platform: CR LF reads as LF.
class LineReader {
 public:
  explicit LineReader(std::FILE *file) : file_(file) {}

  // The next piece of at most kMaxPieceLength characters, its LF included when it fits;
  // false at the end of the file or on a read error.
  bool Next(char (&line)[kLineBufferSize]) {
    std::memset(line, 0, sizeof line);
    int length = 0;
    while (length < kMaxPieceLength) {
      int c = Get();
      if (c == EOF) break;
      line[length++] = static_cast<char>(c);
      if (c == '\n') break;
    }
    return length > 0;
  }

 private:
  int Get() {
    int c = std::getc(file_);
    if (c != '\r') return c;
    int next = std::getc(file_);
    if (next == '\n') return '\n';
    if (next != EOF) std::ungetc(next, file_);
    return c;
  }

  std::FILE *file_;
};

struct Context {
  InstanceBlock *block;
  int instance;
  const char *fileName;
};

// Removes one final CR or LF.
void TrimLineEnd(char *line) {
  std::size_t length = std::strlen(line);
  if (length > 0 && (line[length - 1] == '\r' || line[length - 1] == '\n')) line[length - 1] = 0;
}

void LogLine(const Context &c, const char *line, const char *problem) {
  err(kLogOperational, "DEVADO%02d: ReadInitFile() File '%s' Line '%s' %s", c.instance, c.fileName,
      line, problem);
}

// " UPDATE RATE = %u"; false when the line is not of this form.
bool TryUpdateRate(const Context &c, const char *line) {
  LineScanner scan(line);
  scan.SkipSpace();
  if (!scan.Literal("UPDATE")) return false;
  scan.SkipSpace();
  if (!scan.Literal("RATE")) return false;
  scan.SkipSpace();
  if (!scan.Literal("=")) return false;
  std::uint32_t rate = 0;
  bool fits = false;
  if (!scan.Unsigned(&rate, &fits)) return false;
  if (!fits || rate < kMinUpdateRate || rate > kMaxUpdateRate) {
    LogLine(c, line, "invalid update rate");
    return true;
  }
  err(kLogOperational, "DEVADO%02d: ReadInitFile() Setting Update Rate for tags to %d Secs",
      c.instance, static_cast<int>(rate));
  c.block->updateRate.Set(static_cast<std::uint16_t>(rate));
  return true;
}

// " %03u = %s"; lines of any other form are skipped without a word.
void TryStation(const Context &c, const char *line) {
  LineScanner scan(line);
  std::uint32_t station = 0;
  bool fits = false;
  std::string address;
  if (!scan.Unsigned(&station, &fits, kStationDigits)) return;
  scan.SkipSpace();
  if (!scan.Literal("=") || !scan.Token(&address)) return;
  if (!fits || station == 0 || station >= kStationCount) {
    LogLine(c, line, "invalid station number");
    return;
  }
  if (!CheckIpAddress(address.c_str())) {
    LogLine(c, line, "invalid IP address");
    return;
  }
  err(kLogOperational, "DEVADO%02d: ReadInitFile() IP address of station %d set to %s", c.instance,
      static_cast<int>(station), address.c_str());
  char *field = c.block->stations[station].ipAddress;
  std::memset(field, 0, kIpAddressSize);
  std::memcpy(field, address.data(), address.size());
}

// True unless the first read fails (as it does for a folder).
bool Readable(std::FILE *file) {
  int c = std::getc(file);
  if (c == EOF) return std::ferror(file) == 0;
  std::ungetc(c, file);
  return true;
}

}  // namespace

int CheckIpAddress(const char *text) {
  return ParseStationAddress(text) ? 1 : 0;
}

int ReadInitFile(InstanceBlock *block) {
  int instance = block->instanceNumber.Get();
  char fileName[32];
  std::snprintf(fileName, sizeof fileName, "DEVADO%02d.int", instance);
  std::FILE *file = std::fopen(fileName, "rb");
  // A folder of that name opens on some systems but reads nothing: it is no init file.
  if (file != nullptr && !Readable(file)) {
    std::fclose(file);
    file = nullptr;
  }
  if (file == nullptr) {
    err(kLogOperational, "DEVADO%02d: ReadInitFile() File '%s' not found. Driver not loaded!",
        instance, fileName);
    return 0;
  }
  Context context{block, instance, fileName};
  LineReader reader(file);
  char line[kLineBufferSize];
  for (int read = 0; read < kMaxLines && reader.Next(line); ++read) {
    TrimLineEnd(line);
    if (!TryUpdateRate(context, line)) TryStation(context, line);
  }
  std::fclose(file);
  return 1;
}
