#pragma once
// The text of an INI file read and changed with the rules of the classic profile API, apart
// from how the file is read and replaced on disk (which each system does its own way).
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ProfileFile.h"

namespace calvora::platform::ini {

// A settings file is a few hundred bytes; anything far larger is not one we should load
// whole, and not one we may rewrite from a partial read.
constexpr size_t kMaxFileSize = 16 * 1024 * 1024;

// The value of the key in the file's text, looked for in the first block of the section only,
// trimmed of blanks, without one pair of enclosing quotes (double or single) and cut to what
// the classic API's 2048-byte buffer holds; nothing when the section or key is absent.
std::optional<std::string> FindValue(const std::string& content, std::string_view section,
                                     std::string_view key);

// False for names and values that would break the line structure or could not be found again.
bool CanHold(const ProfileValue& value);

// The file's text with every key set in order: in place where it is, at the end of its
// section's first block, or in a new section at the end. Every line ends with lineEnd.
std::string WithValues(const std::string& content, const std::vector<ProfileValue>& values,
                       std::string_view lineEnd);

}  // namespace calvora::platform::ini
