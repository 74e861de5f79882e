#include "runner/init_file_view.h"

#include <algorithm>

namespace {

void SetStation(const InitLine &line, InitFileView *view) {
  auto &stations = view->stations;
  int number = static_cast<int>(line.value);
  auto at = std::find_if(stations.begin(), stations.end(),
                         [number](const ConfiguredStation &s) { return s.number >= number; });
  if (at != stations.end() && at->number == number) {
    *at = {number, line.address, line.lineNumber};
  } else {
    stations.insert(at, {number, line.address, line.lineNumber});
  }
}

}  // namespace

bool ReadInitFileView(int instance, InitFileView *view, std::string *error) {
  view->fileName = InitFileName(instance);
  if (!ScanInitFile(view->fileName, &view->lines)) {
    *error = view->fileName + ": no such file, or it cannot be read";
    return false;
  }
  for (const InitLine &line : view->lines) {
    if (line.kind == InitLineKind::kUpdateRate) {
      view->updateRate = static_cast<int>(line.value);
      view->updateRateLine = line.lineNumber;
    } else if (line.kind == InitLineKind::kStation) {
      SetStation(line, view);
    }
  }
  return true;
}
