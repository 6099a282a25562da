#pragma once
// Appending a whole line to a log file with one write to a file opened for appending, so
// that the lines of several writers never mix. A missing folder (and the folders above it)
// is made, and the file opened again. Only a regular file is written to: a link or a pipe
// under the file's name is refused at once.
#include <string>

namespace calvora::ctl {

struct AppendFailure {
  enum Step { kNone, kOpen, kWrite } step = kNone;
  std::string reason;  // the system's words
};

// Appends text to path, a file in folder; step kNone when it was written whole.
AppendFailure AppendToLogFile(const std::string& folder, const std::string& path,
                              const std::string& text);

}  // namespace calvora::ctl
