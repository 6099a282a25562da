#include "platform/win32/Win32AnsiCodePage.h"

#include <windows.h>

#include "platform/win32/WideText.h"

namespace calvora::platform::win32 {

std::string Win32AnsiCodePage::ToUtf8(std::string_view bytes) const {
  if (bytes.empty())
    return {};
  const int size = static_cast<int>(bytes.size());
  const int length = MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, nullptr, 0);
  std::wstring text(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, text.data(), length);
  return Narrow(text);
}

std::optional<std::string> Win32AnsiCodePage::FromUtf8(std::string_view utf8) const {
  if (utf8.empty())
    return std::string();
  if (GetACP() == CP_UTF8)
    return std::string(utf8);
  const std::wstring text = Widen(utf8);
  const int size = static_cast<int>(text.size());
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

}  // namespace calvora::platform::win32
