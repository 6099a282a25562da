#include "platform/ini/IniText.h"

#include "platform/AsciiText.h"

namespace calvora::platform::ini {

namespace {

// A value read from the file is cut to what the classic API's 2048-byte buffer holds.
constexpr size_t kMaxValueLength = 2047;
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// The profile functions count every control character from TAB to CR, and ^Z (the DOS end
// of file), as blanks around lines, names and values.
bool IsBlank(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r') || c == '\x1A';
}

std::string_view Trim(std::string_view text) {
  return TrimWhere(text, IsBlank);
}

// Section and key names: letter case does not count.
bool SameName(std::string_view a, std::string_view b) {
  return EqualsIgnoringAsciiCase(a, b);
}

enum class LineKind { Other, Section, Key };

// What one line of the file is; names and values point into the line.
struct LineInfo {
  LineKind kind = LineKind::Other;
  std::string_view name;   // section or key name, trimmed
  std::string_view value;  // key value, trimmed
};

LineInfo Classify(std::string_view line, bool firstLine) {
  if (firstLine && line.substr(0, kUtf8Bom.size()) == kUtf8Bom)
    line.remove_prefix(kUtf8Bom.size());
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

// Splits into lines without their line ends. LF, CR, and any CRs before an LF (CR CR LF is
// what "\r\n" through a text-mode stream leaves) each end one line.
std::vector<std::string> SplitLines(const std::string& content) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find_first_of("\r\n", start);
    if (end == std::string::npos)
      end = content.size();
    lines.push_back(content.substr(start, end - start));
    size_t next = end;
    while (next < content.size() && content[next] == '\r')
      ++next;
    if (next < content.size() && content[next] == '\n')
      ++next;
    start = next;
  }
  return lines;
}

// Where a key lives in the file: the first matching key line in the section's first block,
// which is also where a new key goes. A repeated block of the section is never looked at.
struct KeyPosition {
  std::optional<size_t> keyLine;
  std::optional<size_t> sectionLine;
  size_t insertAt = 0;  // after the last key line of the first block
};

KeyPosition Locate(const std::vector<std::string>& lines, std::string_view section,
                   std::string_view key) {
  KeyPosition pos;
  bool inFirstBlock = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    const LineInfo info = Classify(lines[i], i == 0);
    if (info.kind == LineKind::Section) {
      if (inFirstBlock)
        break;
      inFirstBlock = SameName(info.name, section);
      if (inFirstBlock) {
        pos.sectionLine = i;
        pos.insertAt = i + 1;
      }
    } else if (info.kind == LineKind::Key && inFirstBlock) {
      pos.insertAt = i + 1;
      if (!pos.keyLine && SameName(info.name, key))
        pos.keyLine = i;
    }
  }
  return pos;
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

// Sets one key in the lines of a file: in place where it is, at the end of its section's
// first block, or in a new section at the end.
void SetKey(std::vector<std::string>& lines, std::string_view section, std::string_view key,
            std::string_view value) {
  const KeyPosition pos = Locate(lines, section, key);
  if (pos.keyLine) {
    // Keep the key as it is spelled in the file; only the value changes.
    const std::string_view spelled = Classify(lines[*pos.keyLine], *pos.keyLine == 0).name;
    const size_t keyStart = static_cast<size_t>(spelled.data() - lines[*pos.keyLine].data());
    lines[*pos.keyLine] =
        lines[*pos.keyLine].substr(0, keyStart) + std::string(spelled) + "=" + EncodeValue(value);
  } else if (pos.sectionLine) {
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(pos.insertAt),
                 std::string(key) + "=" + EncodeValue(value));
  } else {
    if (!lines.empty() && !Trim(lines.back()).empty())
      lines.emplace_back();
    lines.push_back("[" + std::string(section) + "]");
    lines.push_back(std::string(key) + "=" + EncodeValue(value));
  }
}

}  // namespace

std::optional<std::string> FindValue(const std::string& content, std::string_view section,
                                     std::string_view key) {
  const std::vector<std::string> lines = SplitLines(content);
  const KeyPosition pos = Locate(lines, section, key);
  if (!pos.keyLine)
    return std::nullopt;
  std::string_view value = Classify(lines[*pos.keyLine], *pos.keyLine == 0).value;
  if (InQuotes(value))
    value = value.substr(1, value.size() - 2);
  return std::string(value.substr(0, kMaxValueLength));
}

bool CanHold(const ProfileValue& v) {
  const std::string_view section = v.Section;
  const std::string_view key = v.Key;
  return !section.empty() && !key.empty() && Trim(section) == section && Trim(key) == key &&
         !HasLineBreakOrNul(section) && !HasLineBreakOrNul(key) && !HasLineBreakOrNul(v.Value) &&
         section.find(']') == std::string_view::npos && key.find('=') == std::string_view::npos &&
         key.front() != '[' && key.front() != ';' && key.front() != '#';
}

std::string WithValues(const std::string& content, const std::vector<ProfileValue>& values,
                       std::string_view lineEnd) {
  std::vector<std::string> lines = SplitLines(content);
  for (const ProfileValue& v : values)
    SetKey(lines, v.Section, v.Key, v.Value);
  std::string updated;
  for (const std::string& line : lines) {
    updated += line;
    updated += lineEnd;
  }
  return updated;
}

}  // namespace calvora::platform::ini
