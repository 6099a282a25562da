#include "ClipFolder.h"

#include <algorithm>
#include <string>
#include <system_error>
#include <vector>

#include "ClipNames.h"
#include "actions/Utf8Path.h"

namespace calvora::ctl {

namespace fs = std::filesystem;

uint64_t ClipFolder::Prune(FileClock::time_point now) const {
  struct Clip {
    std::string name;  // under the root: sorts oldest first
    fs::path path;
    uint64_t bytes;
    FileClock::time_point written;
  };
  std::vector<Clip> clips;
  std::error_code error;
  for (fs::directory_iterator day(root_, error), end; !error && day != end; day.increment(error)) {
    if (!day->is_directory(error))
      continue;
    std::error_code inner;
    for (fs::directory_iterator file(day->path(), inner), last; !inner && file != last;
         file.increment(inner)) {
      // A name without UTF-8 (possible on Windows) is no clip's, and is passed over.
      const std::string name =
          Utf8FromPath(day->path().filename()) + "/" + Utf8FromPath(file->path().filename());
      std::error_code e;
      if (file->path().extension() == ".tmp") {
        fs::remove(file->path(), e);  // only the writer makes these, and it is not writing now
        continue;
      }
      if (!IsClipName(name))
        continue;
      const uint64_t bytes = file->file_size(e);
      const auto written = file->last_write_time(e);
      if (!e)
        clips.push_back({name, file->path(), bytes, written});
    }
  }
  std::sort(clips.begin(), clips.end(),
            [](const Clip& a, const Clip& b) { return a.name < b.name; });
  uint64_t total = 0;
  for (const Clip& clip : clips)
    total += clip.bytes;
  const auto oldest = now - std::chrono::hours(24) * bounds_.maxDays;
  for (const Clip& clip : clips) {
    if (total <= bounds_.maxBytes && clip.written >= oldest)
      continue;
    std::error_code e;
    if (fs::remove(clip.path, e)) {
      total -= clip.bytes;
      fs::remove(clip.path.parent_path(), e);  // only when the day is empty
    }
  }
  return total;
}

}  // namespace calvora::ctl
