#include "platform/ini/IniText.h"

#include "platform/AsciiText.h"

namespace calvora::platform::ini {

namespace {

// The profile functions count every control character from TAB to CR, and ^Z (the DOS end
// of file), as blanks around lines, names and values.
bool IsBlank(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r') || c == '\x1A';
}

std::string_view Trim(std::string_view text) {
  return TrimWhere(text, IsBlank);
}

// True for a value in a pair of the same quotes, double or single, which reading removes.
bool InQuotes(std::string_view value) {
  return value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
         value.back() == value.front();
}

// A value is written as it is, except one that reading would change: with blanks at its ends
// (reading trims them) or itself in quotes (reading removes one pair) it goes in double quotes,
// which reading removes again, so it comes back unchanged.
std::string EncodeValue(std::string_view value) {
  const bool blankEnds = !value.empty() && (IsBlank(value.front()) || IsBlank(value.back()));
  if (blankEnds || InQuotes(value))
    return "\"" + std::string(value) + "\"";
  return std::string(value);
}

bool HasLineBreakOrNul(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

}  // namespace

LineInfo ClassifyLine(std::string_view line) {
  const std::string_view text = Trim(line);
  if (text.empty() || text.front() == ';' || text.front() == '#')
    return {};
  if (text.front() == '[') {
    // The name runs to the last "]" and is trimmed: "[ Mixer ]" is the section "Mixer".
    const size_t close = text.rfind(']');
    if (close == std::string_view::npos)
      return {};
    return {LineKind::Section, Trim(text.substr(1, close - 1)), {}};
  }
  const size_t equals = text.find('=');
  if (equals == std::string_view::npos)
    return {};
  const std::string_view key = Trim(text.substr(0, equals));
  if (key.empty())
    return {};
  return {LineKind::Key, key, Trim(text.substr(equals + 1))};
}

bool IsBlankLine(std::string_view line) {
  return Trim(line).empty();
}

bool SameName(std::string_view a, std::string_view b) {
  return EqualsIgnoringAsciiCase(a, b);
}

std::string_view Unquoted(std::string_view value) {
  return InQuotes(value) ? value.substr(1, value.size() - 2) : value;
}

std::string KeyLine(std::string_view indent, std::string_view key, std::string_view value) {
  return std::string(indent) + std::string(key) + "=" + EncodeValue(value);
}

bool CanHold(const ProfileValue& v) {
  const std::string_view section = v.Section;
  const std::string_view key = v.Key;
  return !section.empty() && !key.empty() && Trim(section) == section && Trim(key) == key &&
         !HasLineBreakOrNul(section) && !HasLineBreakOrNul(key) && !HasLineBreakOrNul(v.Value) &&
         section.find(']') == std::string_view::npos && key.find('=') == std::string_view::npos &&
         key.front() != '[' && key.front() != ';' && key.front() != '#';
}

}  // namespace calvora::platform::ini
