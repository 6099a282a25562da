#include "ClipFolder.h"

#include <algorithm>
#include <string>
#include <system_error>
#include <vector>

#include "ClipNames.h"
#include "system/ClipFiles.h"
#include "system/Utf8Path.h"

namespace calvora::ctl {

namespace fs = std::filesystem;

uint64_t ClipFolder::Prune(FileClock::time_point now) const {
  struct Clip {
    std::string name;  // under the root: sorts oldest first
    fs::path day;
    fs::path file;
    uint64_t bytes;
    FileClock::time_point written;
  };
  std::vector<Clip> clips;
  std::error_code error;
  for (fs::directory_iterator day(root_, error), end; !error && day != end; day.increment(error)) {
    // Only the day folders this program makes are gone into, and never through a link: what a
    // link names lies outside the folder and is not this program's to remove.
    const std::string dayName = Utf8FromPath(day->path().filename());
    if (!IsClipDayName(dayName) || EntryKindOf(day->path()) != EntryKind::kFolder)
      continue;
    std::error_code inner;
    for (fs::directory_iterator file(day->path(), inner), last; !inner && file != last;
         file.increment(inner)) {
      // A name without UTF-8 (possible on Windows) is no clip's, and is passed over.
      const std::string fileName = Utf8FromPath(file->path().filename());
      if (IsClipTemporaryName(dayName + "/" + fileName)) {
        // Only the writer makes these, and it is not writing now.
        RemoveFileIn(day->path(), file->path().filename());
        continue;
      }
      if (!IsClipName(dayName + "/" + fileName) || EntryKindOf(file->path()) != EntryKind::kFile)
        continue;
      std::error_code e;
      const uint64_t bytes = fs::file_size(file->path(), e);
      const auto written = e ? FileClock::time_point{} : fs::last_write_time(file->path(), e);
      if (!e)
        clips.push_back(
            {dayName + "/" + fileName, day->path(), file->path().filename(), bytes, written});
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
    if (RemoveFileIn(clip.day, clip.file)) {
      total -= clip.bytes;
      std::error_code e;
      if (EntryKindOf(clip.day) == EntryKind::kFolder)
        fs::remove(clip.day, e);  // only when the day is empty
    }
  }
  return total;
}

}  // namespace calvora::ctl
