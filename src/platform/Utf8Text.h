#pragma once
// Names and texts shown to the user are UTF-8; they are trimmed and cut without ever
// splitting a character in two.
#include <cstddef>
#include <string>
#include <string_view>

#include "platform/AsciiText.h"

namespace calvora::platform {

inline bool IsBlankOrControl(unsigned char c) {
  return c <= ' ' || c == 0x7F;
}

inline bool IsUtf8Continuation(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// The text without blanks and control characters at either end.
inline std::string_view TrimBlanksAndControls(std::string_view text) {
  return TrimWhere(text, [](char c) { return IsBlankOrControl(static_cast<unsigned char>(c)); });
}

// At most maxChars characters of the text.
inline std::string CutToChars(std::string_view text, size_t maxChars) {
  size_t chars = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (IsUtf8Continuation(text[i]))
      continue;
    if (chars == maxChars)
      return std::string(text.substr(0, i));
    ++chars;
  }
  return std::string(text);
}

// At most maxBytes bytes of the text.
inline std::string CutToBytes(std::string_view text, size_t maxBytes) {
  if (text.size() <= maxBytes)
    return std::string(text);
  size_t cut = maxBytes;
  while (cut > 0 && IsUtf8Continuation(text[cut]))
    --cut;
  return std::string(text.substr(0, cut));
}

}  // namespace calvora::platform
