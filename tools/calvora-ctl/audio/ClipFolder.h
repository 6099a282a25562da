#pragma once
// The clips folder kept within the station's bounds: its clips' bytes under a size and none
// older than a number of days, the oldest removed first. Only what this program makes is
// removed: clips (ClipNames) and the half-written files a stopped program left, as regular files
// in day folders; a day's folder goes when empty. Nothing is looked at through a link, so what
// a link in the folder names is never counted nor removed (ClipFiles).
#include <chrono>
#include <cstdint>
#include <filesystem>

namespace calvora::ctl {

struct ClipBounds {
  uint64_t maxBytes = 500ull * 1024 * 1024;
  int maxDays = 30;
};

class ClipFolder {
 public:
  using FileClock = std::filesystem::file_time_type::clock;

  ClipFolder(std::filesystem::path root, ClipBounds bounds)
      : root_(std::move(root)), bounds_(bounds) {}

  const std::filesystem::path& Root() const { return root_; }
  // Removes what is over the bounds; the bytes of the clips kept. Errors of single files are
  // skipped (a file removed meanwhile), so pruning never stops the clips.
  uint64_t Prune(FileClock::time_point now = FileClock::now()) const;

 private:
  std::filesystem::path root_;
  ClipBounds bounds_;
};

}  // namespace calvora::ctl
