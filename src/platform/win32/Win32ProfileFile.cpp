#include "platform/win32/Win32ProfileFile.h"

#include <windows.h>

#include <random>

#include "platform/ini/IniDocument.h"
#include "platform/ini/IniText.h"
#include "platform/win32/WideText.h"
#include "platform/win32/Win32AnsiCodePage.h"

namespace calvora::platform::win32 {

namespace {

constexpr DWORD kNoAttributes = INVALID_FILE_ATTRIBUTES;
constexpr std::wstring_view kTemporaryMark = L".tmp-";
constexpr size_t kTemporarySuffixLength = 6;
// Lines this program adds end as Windows' own do, in a file that has no line end yet.
constexpr std::string_view kLineEnd = "\r\n";
const Win32AnsiCodePage kAnsiCodePage;

// Closes a file handle when it leaves scope.
class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  ~FileHandle() { Close(); }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  bool Valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE Get() const { return handle_; }
  bool Close() {
    const bool ok = !Valid() || CloseHandle(handle_) != 0;
    handle_ = INVALID_HANDLE_VALUE;
    return ok;
  }

 private:
  HANDLE handle_;
};

bool IsFolder(DWORD attributes) {
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Reads a file of reasonable size whole. Nothing when it is missing, a folder, too large or
// unreadable.
std::optional<std::string> ReadWholeFile(const std::wstring& path) {
  FileHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size{};
  if (!file.Valid() || !GetFileSizeEx(file.Get(), &size) || size.QuadPart < 0 ||
      static_cast<uint64_t>(size.QuadPart) > ini::kMaxFileSize)
    return std::nullopt;
  std::string content(static_cast<size_t>(size.QuadPart), '\0');
  size_t filled = 0;
  while (filled < content.size()) {
    DWORD read = 0;
    if (!ReadFile(file.Get(), content.data() + filled, static_cast<DWORD>(content.size() - filled),
                  &read, nullptr))
      return std::nullopt;
    if (read == 0)
      break;
    filled += read;
  }
  content.resize(filled);
  return content;
}

bool WriteAll(HANDLE file, std::string_view data) {
  while (!data.empty()) {
    DWORD written = 0;
    if (!WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) ||
        written == 0)
      return false;
    data.remove_prefix(written);
  }
  return true;
}

std::wstring RandomSuffix() {
  static constexpr wchar_t kChars[] =
      L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  static std::mt19937 random{std::random_device{}()};
  std::uniform_int_distribution<size_t> pick(0, std::size(kChars) - 2);
  std::wstring suffix;
  for (size_t i = 0; i < kTemporarySuffixLength; ++i)
    suffix += kChars[pick(random)];
  return suffix;
}

// Creates a new file "<target>.tmp-XXXXXX" beside the target for writing; its handle (invalid
// on failure) and its name.
HANDLE CreateTemporary(const std::wstring& target, std::wstring& name) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    name = target + std::wstring(kTemporaryMark) + RandomSuffix();
    const HANDLE file = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS)
      return file;
  }
  return INVALID_HANDLE_VALUE;
}

// Removes the "<target>.tmp-XXXXXX" files that killed writes left beside the target. A
// temporary file another write still holds open cannot be deleted (it is opened without
// sharing), so only abandoned ones go.
void RemoveTemporaries(const std::wstring& target) {
  const std::wstring pattern = target + std::wstring(kTemporaryMark) + L"*";
  const size_t slash = target.find_last_of(L"/\\");
  const std::wstring folder = slash == std::wstring::npos ? L"" : target.substr(0, slash + 1);
  const size_t nameLength =
      target.size() - folder.size() + kTemporaryMark.size() + kTemporarySuffixLength;
  WIN32_FIND_DATAW found{};
  const HANDLE search = FindFirstFileW(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE)
    return;
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
        std::wstring_view(found.cFileName).size() == nameLength)
      DeleteFileW((folder + found.cFileName).c_str());
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

}  // namespace

Win32ProfileFile::Win32ProfileFile(std::string path) : path_(std::move(path)) {}

bool Win32ProfileFile::Exists() const {
  const DWORD attributes = GetFileAttributesW(Widen(path_).c_str());
  return attributes != kNoAttributes && !IsFolder(attributes);
}

std::optional<std::string> Win32ProfileFile::ReadString(std::string_view section,
                                                        std::string_view key) {
  const std::optional<std::string> content = ReadWholeFile(Widen(path_));
  if (!content)
    return std::nullopt;
  return ini::IniDocument::Read(*content, &kAnsiCodePage, kLineEnd).Find(section, key);
}

bool Win32ProfileFile::WriteString(std::string_view section, std::string_view key,
                                   std::string_view value) {
  return WriteStrings({{std::string(section), std::string(key), std::string(value)}});
}

bool Win32ProfileFile::WriteStrings(const std::vector<ProfileValue>& values) {
  for (const ProfileValue& v : values)
    if (!ini::CanHold(v))
      return false;
  // A new file is written as this program always has; an existing one keeps its encoding.
  ini::IniDocument document = ini::IniDocument::New(kLineEnd);
  const DWORD attributes = GetFileAttributesW(Widen(path_).c_str());
  if (attributes != kNoAttributes) {
    if (IsFolder(attributes) || (attributes & FILE_ATTRIBUTE_READONLY) != 0)
      return false;
    // Rewriting from anything less than the whole current file would lose its other keys.
    std::optional<std::string> current = ReadWholeFile(Widen(path_));
    if (!current)
      return false;
    document = ini::IniDocument::Read(*current, &kAnsiCodePage, kLineEnd);
  } else if (GetLastError() != ERROR_FILE_NOT_FOUND) {
    return false;
  }
  document.Set(values);
  return ReplaceContent(path_, document.Bytes());
}

bool Win32ProfileFile::ReplaceContent(const std::string& path, std::string_view content) {
  const std::wstring target = Widen(path);
  RemoveTemporaries(target);
  std::wstring temporary;
  FileHandle file(CreateTemporary(target, temporary));
  if (!file.Valid())
    return false;
  const bool written = WriteAll(file.Get(), content) && FlushFileBuffers(file.Get()) != 0;
  if (!file.Close() || !written ||
      !MoveFileExW(temporary.c_str(), target.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    DeleteFileW(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace calvora::platform::win32
