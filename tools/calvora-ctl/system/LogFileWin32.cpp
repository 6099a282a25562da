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
  // FILE_APPEND_DATA alone: every write goes to the end, as one piece. The day's log is a file
  // of its own: a reparse point (a link) under its name is opened as itself and refused below.
  return CreateFileW(path.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

bool IsPlainFile(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info{};
  return GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info) &&
         !(info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY));
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
  if (!IsPlainFile(file)) {
    CloseHandle(file);
    return {AppendFailure::kOpen, "it is no regular file"};
  }
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
