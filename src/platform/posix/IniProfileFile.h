#pragma once
#include <functional>
#include <string>

#include "platform/ProfileFile.h"

namespace calvora::platform::posix {

// An INI file on disk, read as the Windows build reads it: UTF-16 or UTF-8 after a byte-order
// mark, otherwise UTF-8. Every write reads the current file, changes its keys in the file's own
// encoding and line ends (LF in a new file), keeps every other line byte for byte, and replaces
// the file through a temporary file and a rename.
class IniProfileFile : public ProfileFile {
 public:
  // The system calls that make a replacement durable, in the order it needs them: the content
  // synced to disk, then renamed over the file, then the folder synced. An empty one is the
  // system's own; tests put their own in to watch the order.
  struct DurableCalls {
    std::function<int(int fd)> sync;
    std::function<int(const char* from, const char* to)> rename;
  };

  explicit IniProfileFile(std::string path, DurableCalls calls = {});

  const std::string& Path() const override { return path_; }
  bool Exists() const override;
  std::optional<std::string> ReadString(std::string_view section, std::string_view key) override;
  bool WriteString(std::string_view section, std::string_view key, std::string_view value) override;
  bool WriteStrings(const std::vector<ProfileValue>& values) override;

  // Replaces the whole content of a file through a temporary file in the same folder and a
  // rename, so a reader sees the old or the new content, never a part. An existing file keeps
  // its permission bits and owner; a new one gets newFileMode less the umask. On failure the
  // original is untouched, the temporary file removed, and the result false. The content is
  // written unnamed where the file system allows it, so a process killed while writing leaves
  // no temporary file; one left by a write killed between naming and renaming it is removed
  // by the next write.
  static bool ReplaceFile(const std::string& path, std::string_view content, unsigned newFileMode,
                          const DurableCalls& calls = {});

 private:
  std::string path_;
  DurableCalls calls_;
};

}  // namespace calvora::platform::posix
