#include "platform/win32/ProfileEncoding.h"

#include <windows.h>

#include <optional>

#include "platform/win32/WideText.h"

namespace calvora::platform::win32 {

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

bool IsValidUtf8(std::string_view bytes) {
  return bytes.empty() || MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(),
                                              static_cast<int>(bytes.size()), nullptr, 0) > 0;
}

std::wstring FromUtf16(std::string_view bytes, bool bigEndian) {
  std::wstring text(bytes.size() / 2, L'\0');
  for (size_t i = 0; i < text.size(); ++i) {
    const auto first = static_cast<unsigned char>(bytes[2 * i]);
    const auto second = static_cast<unsigned char>(bytes[2 * i + 1]);
    text[i] = static_cast<wchar_t>(bigEndian ? (first << 8) | second : (second << 8) | first);
  }
  return text;
}

std::string ToUtf16(std::wstring_view text, bool bigEndian) {
  std::string bytes(bigEndian ? kUtf16BeBom : kUtf16LeBom);
  for (const wchar_t c : text) {
    const auto high = static_cast<char>((c >> 8) & 0xFF);
    const auto low = static_cast<char>(c & 0xFF);
    bytes += bigEndian ? high : low;
    bytes += bigEndian ? low : high;
  }
  return bytes;
}

std::wstring FromAnsi(std::string_view bytes) {
  if (bytes.empty())
    return {};
  const int size = static_cast<int>(bytes.size());
  const int length = MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, nullptr, 0);
  std::wstring text(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, text.data(), length);
  return text;
}

// The text in the ANSI code page, or nothing when a character has no place in it (the
// system would put a look-alike or "?" in its place).
std::optional<std::string> ToAnsi(std::wstring_view text) {
  if (text.empty())
    return std::string();
  const int size = static_cast<int>(text.size());
  if (GetACP() == CP_UTF8)
    return Narrow(text);
  BOOL lossy = FALSE;
  const int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), size, nullptr,
                                         0, nullptr, &lossy);
  if (length <= 0 || lossy)
    return std::nullopt;
  std::string bytes(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), size, bytes.data(), length,
                      nullptr, &lossy);
  return lossy ? std::nullopt : std::optional<std::string>(std::move(bytes));
}

}  // namespace

ProfileText DecodeProfile(std::string_view bytes) {
  if (StartsWith(bytes, kUtf8Bom))
    return {std::string(bytes.substr(kUtf8Bom.size())), ProfileEncoding::Utf8Bom};
  if (StartsWith(bytes, kUtf16LeBom))
    return {Narrow(FromUtf16(bytes.substr(kUtf16LeBom.size()), false)), ProfileEncoding::Utf16Le};
  if (StartsWith(bytes, kUtf16BeBom))
    return {Narrow(FromUtf16(bytes.substr(kUtf16BeBom.size()), true)), ProfileEncoding::Utf16Be};
  if (HasNonAscii(bytes) && IsValidUtf8(bytes))
    return {std::string(bytes), ProfileEncoding::Utf8};
  return {Narrow(FromAnsi(bytes)), ProfileEncoding::Ansi};
}

std::string EncodeProfile(std::string_view utf8, ProfileEncoding encoding) {
  switch (encoding) {
    case ProfileEncoding::Utf8:
      return std::string(utf8);
    case ProfileEncoding::Utf8Bom:
      return std::string(kUtf8Bom) + std::string(utf8);
    case ProfileEncoding::Utf16Le:
      return ToUtf16(Widen(utf8), false);
    case ProfileEncoding::Utf16Be:
      return ToUtf16(Widen(utf8), true);
    case ProfileEncoding::Ansi:
      break;
  }
  const std::wstring text = Widen(utf8);
  if (std::optional<std::string> ansi = ToAnsi(text))
    return std::move(*ansi);
  return ToUtf16(text, false);
}

}  // namespace calvora::platform::win32
