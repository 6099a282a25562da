#include "platform/ini/ProfileEncoding.h"

#include <utf8/cpp17.h>

#include <iterator>

namespace calvora::platform::ini {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeBom = "\xFF\xFE";
constexpr std::string_view kUtf16BeBom = "\xFE\xFF";

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool HasNonAscii(std::string_view bytes) {
  for (const char c : bytes)
    if (static_cast<unsigned char>(c) >= 0x80)
      return true;
  return false;
}

bool IsUtf16(ProfileEncoding encoding) {
  return encoding == ProfileEncoding::Utf16Le || encoding == ProfileEncoding::Utf16Be;
}

bool IsHighSurrogate(char16_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}

bool IsLowSurrogate(char16_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

// The units with every surrogate that is not half of a pair replaced by U+FFFD, which the
// UTF-8 conversion cannot otherwise carry.
std::u16string WithoutLoneSurrogates(std::u16string units) {
  for (size_t i = 0; i < units.size(); ++i) {
    if (IsHighSurrogate(units[i]) && i + 1 < units.size() && IsLowSurrogate(units[i + 1]))
      ++i;
    else if (IsHighSurrogate(units[i]) || IsLowSurrogate(units[i]))
      units[i] = u'\uFFFD';
  }
  return units;
}

std::string Utf16Bytes(std::string_view utf8, bool bigEndian) {
  std::string valid;
  utf8::replace_invalid(utf8.begin(), utf8.end(), std::back_inserter(valid));
  std::string bytes;
  for (const char16_t unit : utf8::utf8to16(valid)) {
    const auto high = static_cast<char>(unit >> 8);
    const auto low = static_cast<char>(unit & 0xFF);
    bytes += bigEndian ? high : low;
    bytes += bigEndian ? low : high;
  }
  return bytes;
}

}  // namespace

ProfileEncoding DetectEncoding(std::string_view bytes, const AnsiCodePage* ansi) {
  if (StartsWith(bytes, kUtf8Bom))
    return ProfileEncoding::Utf8Bom;
  if (StartsWith(bytes, kUtf16LeBom))
    return ProfileEncoding::Utf16Le;
  if (StartsWith(bytes, kUtf16BeBom))
    return ProfileEncoding::Utf16Be;
  if (ansi == nullptr || (HasNonAscii(bytes) && utf8::is_valid(bytes)))
    return ProfileEncoding::Utf8;
  return ProfileEncoding::Ansi;
}

std::string_view ByteOrderMark(ProfileEncoding encoding) {
  switch (encoding) {
    case ProfileEncoding::Utf8Bom:
      return kUtf8Bom;
    case ProfileEncoding::Utf16Le:
      return kUtf16LeBom;
    case ProfileEncoding::Utf16Be:
      return kUtf16BeBom;
    case ProfileEncoding::Ansi:
    case ProfileEncoding::Utf8:
      break;
  }
  return {};
}

size_t CodeUnitSize(ProfileEncoding encoding) {
  return IsUtf16(encoding) ? 2 : 1;
}

char16_t CodeUnitAt(std::string_view bytes, size_t index, ProfileEncoding encoding) {
  if (!IsUtf16(encoding))
    return static_cast<unsigned char>(bytes[index]);
  const auto first = static_cast<unsigned char>(bytes[2 * index]);
  const auto second = static_cast<unsigned char>(bytes[2 * index + 1]);
  return static_cast<char16_t>(encoding == ProfileEncoding::Utf16Be ? (first << 8) | second
                                                                    : (second << 8) | first);
}

std::string DecodeText(std::string_view bytes, ProfileEncoding encoding, const AnsiCodePage* ansi) {
  if (IsUtf16(encoding)) {
    std::u16string units(bytes.size() / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i)
      units[i] = CodeUnitAt(bytes, i, encoding);
    return utf8::utf16to8(WithoutLoneSurrogates(std::move(units)));
  }
  if (encoding == ProfileEncoding::Ansi && ansi != nullptr)
    return ansi->ToUtf8(bytes);
  return std::string(bytes);
}

std::optional<std::string> EncodeText(std::string_view utf8, ProfileEncoding encoding,
                                      const AnsiCodePage* ansi) {
  if (IsUtf16(encoding))
    return Utf16Bytes(utf8, encoding == ProfileEncoding::Utf16Be);
  if (encoding == ProfileEncoding::Ansi && ansi != nullptr)
    return ansi->FromUtf8(utf8);
  return std::string(utf8);
}

}  // namespace calvora::platform::ini
