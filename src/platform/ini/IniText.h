#pragma once
// One line of an INI file read and written with the rules of the classic profile API: what the
// line is (a section, a key, or anything else), and how a key's line is written so that reading
// it gives back the value.
#include <cstddef>
#include <string>
#include <string_view>

#include "platform/ProfileFile.h"

namespace calvora::platform::ini {

// A value read from the file is cut to what the classic API's 2048-byte buffer holds.
constexpr size_t kMaxValueLength = 2047;

enum class LineKind { Other, Section, Key };

// What one line is; the name and value point into the line.
struct LineInfo {
  LineKind kind = LineKind::Other;
  std::string_view name;   // section or key name, trimmed
  std::string_view value;  // key value, trimmed, quotes still on
};

LineInfo ClassifyLine(std::string_view line);

// Whether the line holds nothing but blanks.
bool IsBlankLine(std::string_view line);

// Section and key names: letter case does not count.
bool SameName(std::string_view a, std::string_view b);

// The value of a key line as it reads: without one pair of enclosing quotes, double or single.
std::string_view Unquoted(std::string_view value);

// The line that sets the key to the value, with what stood before the key in the old line
// (its indent) kept.
std::string KeyLine(std::string_view indent, std::string_view key, std::string_view value);

// False for names and values that would break the line structure or could not be found again.
bool CanHold(const ProfileValue& value);

}  // namespace calvora::platform::ini
