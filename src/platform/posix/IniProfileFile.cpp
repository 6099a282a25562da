#include "platform/posix/IniProfileFile.h"

#include "platform/ini/IniDocument.h"
#include "platform/ini/IniText.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <vector>

namespace calvora::platform::posix {

namespace {

constexpr off_t kMaxFileSize = static_cast<off_t>(ini::kMaxFileSize);
// Lines this program adds end as this system's do, in a file that has no line end yet. There
// is no ANSI code page here: a file without a byte-order mark is UTF-8.
constexpr std::string_view kLineEnd = "\n";
constexpr const ini::AnsiCodePage* kNoCodePage = nullptr;

// Reads a regular file of reasonable size whole. Nothing when it is missing, not a regular
// file, too large or unreadable.
std::optional<std::string> ReadWholeFile(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxFileSize)
    return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return std::nullopt;
  std::string content;
  content.resize(static_cast<size_t>(st.st_size));
  in.read(content.data(), static_cast<std::streamsize>(content.size()));
  if (in.bad())
    return std::nullopt;
  content.resize(static_cast<size_t>(in.gcount()));
  return content;
}

// Writable for this program: the system allows it and the object is not marked read-only.
// The second test matters when running as root, whom the system lets write anything.
bool Writable(const std::string& path, const struct stat& st) {
  return access(path.c_str(), W_OK) == 0 && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos)
    return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

mode_t CurrentUmask() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("Umask:", 0) == 0)
      return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8) & 0777u);
  return 022;
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR)
        continue;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// The path a write must replace: the target of a symbolic link rather than the link itself.
std::string ResolvedPath(const std::string& path) {
  std::unique_ptr<char, decltype(&std::free)> real(realpath(path.c_str(), nullptr), &std::free);
  return real ? std::string(real.get()) : path;
}

constexpr std::string_view kTemporaryMark = ".tmp-";
constexpr size_t kTemporarySuffixLength = 6;
// How long a write waits for another writer of the same folder before it goes ahead
// without tidying up.
constexpr int kFolderLockWaitMs = 1000;

std::string BaseName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Held by every write of a file in the folder from its first temporary file to its rename, so
// a temporary file found while holding it belongs to a write that was killed.
class FolderLock {
 public:
  explicit FolderLock(const std::string& folder)
      : fd_(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    // Another writer holds it for milliseconds; one that hangs must not hang this one.
    for (int waited = 0; fd_ >= 0 && !held_ && waited <= kFolderLockWaitMs; ++waited) {
      held_ = flock(fd_, LOCK_EX | LOCK_NB) == 0;
      if (!held_)
        usleep(1000);
    }
  }
  ~FolderLock() {
    if (fd_ >= 0)
      close(fd_);  // releases the lock
  }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  bool Held() const { return held_; }
  int Fd() const { return fd_; }

 private:
  int fd_;
  bool held_ = false;
};

// Removes the "<file>.tmp-XXXXXX" files of this user beside the file that killed writes left.
// Called only while holding the folder's lock, so none of them is being written.
void RemoveTemporaries(const std::string& path) {
  const std::string prefix = BaseName(path) + std::string(kTemporaryMark);
  DIR* dir = opendir(FolderOf(path).c_str());
  if (dir == nullptr)
    return;
  while (const dirent* entry = readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name.size() != prefix.size() + kTemporarySuffixLength ||
        name.substr(0, prefix.size()) != prefix)
      continue;
    struct stat st {};
    if (fstatat(dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
        st.st_uid == geteuid())
      unlinkat(dirfd(dir), entry->d_name, 0);
  }
  closedir(dir);
}

std::string RandomSuffix() {
  static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  static std::mt19937 random{std::random_device{}()};
  std::uniform_int_distribution<size_t> pick(0, sizeof kChars - 2);
  std::string suffix;
  for (size_t i = 0; i < kTemporarySuffixLength; ++i)
    suffix += kChars[pick(random)];
  return suffix;
}

// Writes the content into a file without a name in the target's folder and names it only once
// it is complete and on disk; the path of that name, or nothing where the system cannot.
std::optional<std::string> WriteUnnamed(const std::string& path,
                                        const std::function<bool(int)>& fill) {
  const int fd = open(FolderOf(path).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (fd < 0)
    return std::nullopt;
  std::optional<std::string> named;
  if (fill(fd)) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    for (int attempt = 0; attempt < 100 && !named; ++attempt) {
      const std::string candidate = path + std::string(kTemporaryMark) + RandomSuffix();
      if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW) == 0)
        named = candidate;
      else if (errno != EEXIST)
        break;
    }
  }
  close(fd);
  return named;
}

// The same through a named temporary file from the start, for file systems without unnamed
// files.
std::optional<std::string> WriteNamed(const std::string& path,
                                      const std::function<bool(int)>& fill) {
  std::string temporary = path + std::string(kTemporaryMark) + "XXXXXX";
  const int fd = mkstemp(temporary.data());
  if (fd < 0)
    return std::nullopt;
  const bool ok = fill(fd);
  if (close(fd) != 0 || !ok) {
    unlink(temporary.c_str());
    return std::nullopt;
  }
  return temporary;
}

}  // namespace

IniProfileFile::IniProfileFile(std::string path, DurableCalls calls)
    : path_(std::move(path)), calls_(std::move(calls)) {}

bool IniProfileFile::Exists() const {
  struct stat st {};
  return stat(path_.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

std::optional<std::string> IniProfileFile::ReadString(std::string_view section,
                                                      std::string_view key) {
  const std::optional<std::string> content = ReadWholeFile(path_);
  if (!content)
    return std::nullopt;
  return ini::IniDocument::Read(*content, kNoCodePage, kLineEnd).Find(section, key);
}

bool IniProfileFile::WriteString(std::string_view section, std::string_view key,
                                 std::string_view value) {
  return WriteStrings({{std::string(section), std::string(key), std::string(value)}});
}

bool IniProfileFile::WriteStrings(const std::vector<ProfileValue>& values) {
  for (const ProfileValue& v : values)
    if (!ini::CanHold(v))
      return false;

  const std::string target = ResolvedPath(path_);
  ini::IniDocument document = ini::IniDocument::New(kLineEnd);
  struct stat st {};
  if (stat(target.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode) || !Writable(target, st))
      return false;
    // Rewriting from anything less than the whole current file would lose its other keys.
    std::optional<std::string> current = ReadWholeFile(target);
    if (!current)
      return false;
    document = ini::IniDocument::Read(*current, kNoCodePage, kLineEnd);
  } else if (errno != ENOENT) {
    return false;
  }
  const std::string folder = FolderOf(target);
  struct stat folderStat {};
  if (stat(folder.c_str(), &folderStat) != 0 || !Writable(folder, folderStat))
    return false;

  document.Set(values);
  return ReplaceFile(target, document.Bytes(), 0666, calls_);
}

bool IniProfileFile::ReplaceFile(const std::string& path, std::string_view content,
                                 unsigned newFileMode, const DurableCalls& calls) {
  const auto sync = [&](int fd) { return calls.sync ? calls.sync(fd) : fsync(fd); };
  const auto renameFile = [&](const char* from, const char* to) {
    return calls.rename ? calls.rename(from, to) : rename(from, to);
  };
  const FolderLock lock(FolderOf(path));
  if (lock.Held())
    RemoveTemporaries(path);
  struct stat original {};
  const bool existed = stat(path.c_str(), &original) == 0;
  const mode_t mode = existed ? (original.st_mode & 07777)
                              : (static_cast<mode_t>(newFileMode) & ~CurrentUmask() & 07777);
  const auto fill = [&](int fd) {
    bool ok = WriteAll(fd, content) && fchmod(fd, mode) == 0;
    if (ok && existed && (original.st_uid != geteuid() || original.st_gid != getegid())) {
      // Only a privileged process can give the file back to its owner; others keep theirs.
      [[maybe_unused]] const int ignored = fchown(fd, original.st_uid, original.st_gid);
    }
    return ok && sync(fd) == 0;
  };
  std::optional<std::string> temporary = WriteUnnamed(path, fill);
  if (!temporary)
    temporary = WriteNamed(path, fill);
  if (!temporary)
    return false;
  if (renameFile(temporary->c_str(), path.c_str()) != 0) {
    unlink(temporary->c_str());
    return false;
  }
  // Make the rename itself durable; a failure here does not undo the new content.
  if (lock.Fd() >= 0)
    sync(lock.Fd());
  return true;
}

}  // namespace calvora::platform::posix
