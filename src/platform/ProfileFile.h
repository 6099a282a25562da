#pragma once
// One INI file read and written a key at a time, with the rules of the classic profile API:
// section and key names compared without regard to letter case, a value replaced in place,
// every other key and section kept.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace calvora::platform {

// One key and the text to store under it.
struct ProfileValue {
  std::string Section;
  std::string Key;
  std::string Value;
};

class ProfileFile {
 public:
  virtual ~ProfileFile() = default;

  virtual const std::string& Path() const = 0;
  virtual bool Exists() const = 0;

  // The value of the key, or nothing when the file, the section or the key is absent.
  virtual std::optional<std::string> ReadString(std::string_view section, std::string_view key) = 0;

  // Sets the key (adding the section and key when absent). The file is replaced atomically,
  // so it is never left truncated. Returns false when the file cannot be written.
  virtual bool WriteString(std::string_view section, std::string_view key,
                           std::string_view value) = 0;

  // Sets every key in order in one replacement of the file: afterwards the file holds all of
  // them or, on failure, is exactly as before. Fails (writing nothing) at the first key that
  // cannot be written, or when the file cannot be replaced.
  virtual bool WriteStrings(const std::vector<ProfileValue>& values) = 0;
};

}  // namespace calvora::platform
