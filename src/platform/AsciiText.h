#pragma once
// Small text rules on bytes: letter case folded for ASCII letters only (names the user reads
// alike, "USB Audio" and "usb audio"; bytes of other letters compare as they stand), and
// trimming by a rule of what counts as blank, which differs between the file formats.
#include <string_view>

namespace calvora::platform {

constexpr char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Whether the texts are equal when ASCII letters are folded to lower case.
constexpr bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i]))
      return false;
  return true;
}

// The text without the characters at either end for which isBlank is true.
template <typename IsBlank>
constexpr std::string_view TrimWhere(std::string_view text, IsBlank isBlank) {
  while (!text.empty() && isBlank(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back()))
    text.remove_suffix(1);
  return text;
}

// The text without spaces and tabs at either end.
constexpr std::string_view TrimSpacesAndTabs(std::string_view text) {
  return TrimWhere(text, [](char c) { return c == ' ' || c == '\t'; });
}

}  // namespace calvora::platform
