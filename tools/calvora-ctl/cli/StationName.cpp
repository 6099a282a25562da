#include "StationName.h"

#include <cstdint>
#include <optional>

namespace calvora::ctl {

namespace {

// The code point that starts at `at`, moving `at` past it; none for bytes that are not UTF-8
// in its shortest form (overlong forms, surrogates and values past U+10FFFF are refused, as a
// scraper's parser refuses them).
std::optional<char32_t> NextCodePoint(std::string_view text, std::size_t& at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  int length = 0;
  char32_t point = 0;
  char32_t least = 0;
  if (lead < 0x80) {
    ++at;
    return lead;
  } else if ((lead & 0xe0) == 0xc0) {
    length = 2, point = lead & 0x1f, least = 0x80;
  } else if ((lead & 0xf0) == 0xe0) {
    length = 3, point = lead & 0x0f, least = 0x800;
  } else if ((lead & 0xf8) == 0xf0) {
    length = 4, point = lead & 0x07, least = 0x10000;
  } else {
    return std::nullopt;
  }
  if (text.size() - at < static_cast<std::size_t>(length))
    return std::nullopt;
  for (int i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xc0) != 0x80)
      return std::nullopt;
    point = (point << 6) | (byte(at + i) & 0x3f);
  }
  if (point < least || point > 0x10ffff || (point >= 0xd800 && point <= 0xdfff))
    return std::nullopt;
  at += static_cast<std::size_t>(length);
  return point;
}

// C0, DEL and C1: none belongs in a name shown on a page and in every metric.
bool IsControl(char32_t point) {
  return point < 0x20 || (point >= 0x7f && point <= 0x9f);
}

}  // namespace

std::string StationNameProblem(std::string_view name) {
  if (name.empty())
    return "the station needs a name";
  for (std::size_t at = 0; at < name.size();) {
    const auto point = NextCodePoint(name, at);
    if (!point)
      return "the station's name is not UTF-8 text";
    if (IsControl(*point))
      return "the station's name holds a control character";
  }
  return "";
}

}  // namespace calvora::ctl
