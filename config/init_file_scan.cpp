#include "config/init_file_scan.h"

#include <cstdio>
#include <cstring>

#include "config/line_scanner.h"
#include "link/station_address.h"

namespace {

constexpr int kMaxLines = 1000;
constexpr int kLineBufferSize = 500;
constexpr int kMaxPieceLength = 255;  // a longer line is read in pieces of this length
constexpr int kStationDigits = 3;
constexpr std::uint32_t kStationCount = 256;

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

// Removes one final CR or LF; true when there was one.
bool TrimLineEnd(char *line) {
  std::size_t length = std::strlen(line);
  if (length == 0 || (line[length - 1] != '\r' && line[length - 1] != '\n')) return false;
  line[length - 1] = 0;
  return true;
}

// " UPDATE RATE = %u"; false when the line is not of this form.
bool JudgeUpdateRate(const char *text, InitLine *line) {
  LineScanner scan(text);
  scan.SkipSpace();
  if (!scan.Literal("UPDATE")) return false;
  scan.SkipSpace();
  if (!scan.Literal("RATE")) return false;
  scan.SkipSpace();
  if (!scan.Literal("=")) return false;
  std::uint32_t rate = 0;
  bool fits = false;
  if (!scan.Unsigned(&rate, &fits)) return false;
  bool good = fits && rate >= kMinUpdateRate && rate <= kMaxUpdateRate;
  line->kind = good ? InitLineKind::kUpdateRate : InitLineKind::kBadUpdateRate;
  line->value = rate;
  return true;
}

// " %03u = %s"; false when the line is not of this form.
bool JudgeStation(const char *text, InitLine *line) {
  LineScanner scan(text);
  std::uint32_t station = 0;
  bool fits = false;
  std::string address;
  if (!scan.Unsigned(&station, &fits, kStationDigits)) return false;
  scan.SkipSpace();
  if (!scan.Literal("=") || !scan.Token(&address)) return false;
  line->value = station;
  line->address = address;
  if (!fits || station == 0 || station >= kStationCount) {
    line->kind = InitLineKind::kBadStationNumber;
  } else if (!ParseStationAddress(address.c_str())) {
    line->kind = InitLineKind::kBadAddress;
  } else {
    line->kind = InitLineKind::kStation;
  }
  return true;
}

// True unless the first read fails (as it does for a folder).
bool Readable(std::FILE *file) {
  int c = std::getc(file);
  if (c == EOF) return std::ferror(file) == 0;
  std::ungetc(c, file);
  return true;
}

}  // namespace

std::string InitFileName(int instance) {
  char name[32];
  std::snprintf(name, sizeof name, "DEVADO%02d.int", instance);
  return name;
}

bool ScanInitFile(const std::string &fileName, std::vector<InitLine> *lines) {
  std::FILE *file = std::fopen(fileName.c_str(), "rb");
  // A folder of that name opens on some systems but reads nothing: it is no init file.
  if (file != nullptr && !Readable(file)) {
    std::fclose(file);
    file = nullptr;
  }
  if (file == nullptr) return false;
  LineReader reader(file);
  char piece[kLineBufferSize];
  int lineNumber = 1;
  for (int read = 0; read < kMaxLines && reader.Next(piece); ++read) {
    bool lineEnds = TrimLineEnd(piece);
    InitLine line;
    line.lineNumber = lineNumber;
    line.text = piece;
    if (!JudgeUpdateRate(piece, &line)) JudgeStation(piece, &line);
    lines->push_back(line);
    if (lineEnds) ++lineNumber;
  }
  std::fclose(file);
  return true;
}
