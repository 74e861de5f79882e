// Where err() lines go: one sink (standard error, a file, a callback or nowhere) and,
// independently, the in-memory capture.
#pragma once

namespace hevpro {

// Back to standard error, capture off and emptied; a log file is closed.
void ResetLogging();

}  // namespace hevpro
