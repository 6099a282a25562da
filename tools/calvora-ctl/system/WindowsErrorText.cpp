#include "WindowsErrorText.h"

#include <windows.h>

#include <cwchar>

#include "platform/win32/WideText.h"

namespace calvora::ctl {

std::string WindowsErrorText(unsigned long error) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message(text != nullptr ? text : L"", text != nullptr ? length : 0);
  LocalFree(text);
  while (!message.empty() && std::wcschr(L"\r\n .", message.back()) != nullptr)
    message.pop_back();
  return message.empty() ? "error " + std::to_string(error) : platform::win32::Narrow(message);
}

}  // namespace calvora::ctl
