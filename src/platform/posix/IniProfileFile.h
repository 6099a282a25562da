#pragma once
#include <string>

#include "platform/ProfileFile.h"

namespace calvora::platform::posix {

// An INI file on disk. Every write reads the current file, changes the one key and
// replaces the file through a temporary file and a rename.
class IniProfileFile : public ProfileFile {
 public:
  explicit IniProfileFile(std::string path);

  const std::string& Path() const override { return path_; }
  bool Exists() const override;
  std::optional<std::string> ReadString(std::string_view section, std::string_view key) override;
  bool WriteString(std::string_view section, std::string_view key, std::string_view value) override;

 private:
  std::string path_;
};

}  // namespace calvora::platform::posix
