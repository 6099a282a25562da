#include <windows.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "LogFile.h"
#include "WindowsErrorText.h"
#include "platform/win32/WideText.h"

namespace calvora::ctl {

namespace {

using platform::win32::Widen;

HANDLE OpenForAppending(const std::wstring& path) {
  // FILE_APPEND_DATA alone: every write goes to the end, as one piece.
  return CreateFileW(path.c_str(), FILE_APPEND_DATA,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

AppendFailure AppendToLogFile(const std::string& folder, const std::string& path,
                              const std::string& text) {
  const std::wstring widePath = Widen(path);
  HANDLE file = OpenForAppending(widePath);
  if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_PATH_NOT_FOUND) {
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(Widen(folder)), ignored);
    file = OpenForAppending(widePath);
  }
  if (file == INVALID_HANDLE_VALUE)
    return {AppendFailure::kOpen, WindowsErrorText(GetLastError())};
  AppendFailure failure;
  DWORD written = 0;
  if (!WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr))
    failure = {AppendFailure::kWrite, WindowsErrorText(GetLastError())};
  else if (written != text.size())
    failure = {AppendFailure::kWrite, "the disk is full"};
  CloseHandle(file);
  return failure;
}

}  // namespace calvora::ctl
