#pragma once
#include <string>

#include "platform/ProfileFile.h"

namespace calvora::platform::win32 {

// An INI file on disk (path in UTF-8), read as the Windows profile functions read it: UTF-16
// or UTF-8 after a byte-order mark, otherwise the ANSI code page. Every write reads the current
// file, changes its keys in the file's own encoding and line ends (CRLF in a new file), keeps
// every other line byte for byte, and replaces the file through a temporary file beside it and
// MoveFileExW.
class Win32ProfileFile : public ProfileFile {
 public:
  explicit Win32ProfileFile(std::string path);

  const std::string& Path() const override { return path_; }
  bool Exists() const override;
  std::optional<std::string> ReadString(std::string_view section, std::string_view key) override;
  bool WriteString(std::string_view section, std::string_view key, std::string_view value) override;
  bool WriteStrings(const std::vector<ProfileValue>& values) override;

  // Replaces the whole content of a file (not named ReplaceFile, which windows.h takes): written
  // and flushed to a temporary file in the same folder, then moved over the original with
  // MOVEFILE_REPLACE_EXISTING and MOVEFILE_WRITE_THROUGH, so a reader sees the old or the new
  // content, never a part. On failure the original is untouched, the temporary file removed, and
  // the result false. Temporary files that killed writes left beside the file go first.
  static bool ReplaceContent(const std::string& path, std::string_view content);

 private:
  std::string path_;
};

}  // namespace calvora::platform::win32
