#include <windows.h>

#include <string>
#include <vector>

#include "ClipFiles.h"
#include "WindowsErrorText.h"

namespace calvora::ctl {

namespace {

// A handle closed when it goes.
class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() {
    if (handle_ != INVALID_HANDLE_VALUE)
      CloseHandle(handle_);
  }
  Handle(Handle&& other) noexcept : handle_(other.handle_) { other.handle_ = INVALID_HANDLE_VALUE; }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

// Opens the entry itself, never what a reparse point (a symbolic link, a junction) names, and
// tells its attributes. A folder is held without FILE_SHARE_DELETE, so that it cannot be
// renamed or replaced meanwhile and stays the folder gone through; a file is shared for
// deleting, so that the pruning is not held up by a reader.
Handle OpenEntry(const std::filesystem::path& path, DWORD access, BY_HANDLE_FILE_INFORMATION& info,
                 DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE) {
  Handle handle(CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (handle.valid() && !GetFileInformationByHandle(handle.get(), &info))
    return Handle(INVALID_HANDLE_VALUE);
  return handle;
}

bool IsPlainFolder(const BY_HANDLE_FILE_INFORMATION& info) {
  return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
         !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool IsPlainFile(HANDLE handle, const BY_HANDLE_FILE_INFORMATION& info) {
  return GetFileType(handle) == FILE_TYPE_DISK &&
         !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
}

bool Missing(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

}  // namespace

EntryKind EntryKindOf(const std::filesystem::path& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES)
    return Missing(GetLastError()) ? EntryKind::kMissing : EntryKind::kOther;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
    return EntryKind::kOther;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? EntryKind::kFolder : EntryKind::kFile;
}

bool RemoveFileIn(const std::filesystem::path& folder, const std::filesystem::path& name) {
  BY_HANDLE_FILE_INFORMATION info{};
  const Handle dir = OpenEntry(folder, FILE_READ_ATTRIBUTES, info);
  if (!dir.valid() || !IsPlainFolder(info))
    return false;
  // DeleteFileW removes a link itself, never what it names; a link is left alone anyway.
  const std::filesystem::path path = folder / name;
  if (EntryKindOf(path) != EntryKind::kFile)
    return false;
  return DeleteFileW(path.c_str()) != 0;
}

FileRead ReadFileUnder(const std::filesystem::path& root, const std::filesystem::path& relative,
                       uint64_t maxBytes) {
  const auto failed = [](FileRead::Result result) {
    const DWORD error = GetLastError();
    return FileRead{Missing(error) ? FileRead::kMissing : result, {}, WindowsErrorText(error)};
  };
  // The root is the station's choice and may be a link; below it, nothing is. Each folder on
  // the way stays open until the file is, so none is swapped for a link meanwhile.
  std::vector<Handle> folders;
  std::filesystem::path path = root;
  for (const auto& folder : relative.parent_path()) {
    path /= folder;
    BY_HANDLE_FILE_INFORMATION info{};
    Handle dir = OpenEntry(path, FILE_READ_ATTRIBUTES, info);
    if (!dir.valid())
      return failed(FileRead::kNotAFile);
    if (!IsPlainFolder(info))
      return {FileRead::kNotAFile, {}, "not a folder"};
    folders.push_back(std::move(dir));
  }
  BY_HANDLE_FILE_INFORMATION info{};
  const Handle file = OpenEntry(path / relative.filename(), GENERIC_READ, info,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  if (!file.valid())
    return failed(FileRead::kNotAFile);
  if (!IsPlainFile(file.get(), info))
    return {FileRead::kNotAFile, {}, "not a regular file"};
  const uint64_t size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  if (size > maxBytes)
    return {FileRead::kTooLarge, {}, "larger than any clip"};
  // The size read at the start bounds the reading, should the file grow meanwhile.
  FileRead read{FileRead::kRead, std::string(static_cast<std::size_t>(size), '\0'), {}};
  std::size_t done = 0;
  while (done < read.bytes.size()) {
    DWORD n = 0;
    if (!ReadFile(file.get(), read.bytes.data() + done,
                  static_cast<DWORD>(read.bytes.size() - done), &n, nullptr))
      return failed(FileRead::kFailed);
    if (n == 0)
      break;
    done += n;
  }
  read.bytes.resize(done);
  return read;
}

}  // namespace calvora::ctl
