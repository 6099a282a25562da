#pragma once
#include <string>

#include "platform/ProfileFile.h"

namespace calvora::platform::posix {

// An INI file on disk. Every write reads the current file, changes its keys and replaces the
// file through a temporary file and a rename.
class IniProfileFile : public ProfileFile {
 public:
  explicit IniProfileFile(std::string path);

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
  static bool ReplaceFile(const std::string& path, std::string_view content, unsigned newFileMode);

 private:
  std::string path_;
};

}  // namespace calvora::platform::posix
