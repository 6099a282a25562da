#include "platform/posix/IniProfileFile.h"

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

// A value read from the file is cut to what the classic API's 2048-byte buffer holds.
constexpr size_t kMaxValueLength = 2047;
// A settings file is a few hundred bytes; anything far larger is not one we should load
// whole, and not one we may rewrite from a partial read.
constexpr off_t kMaxFileSize = 16 * 1024 * 1024;
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && IsBlank(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) {
      return false;
    }
  }
  return true;
}

enum class LineKind { Other, Section, Key };

// What one line of the file is; names and values point into the line.
struct LineInfo {
  LineKind kind = LineKind::Other;
  std::string_view name;   // section or key name, trimmed
  std::string_view value;  // key value, trimmed
};

LineInfo Classify(std::string_view line, bool firstLine) {
  if (firstLine && line.substr(0, kUtf8Bom.size()) == kUtf8Bom) {
    line.remove_prefix(kUtf8Bom.size());
  }
  const std::string_view text = Trim(line);
  if (text.empty() || text.front() == ';' || text.front() == '#') {
    return {};
  }
  if (text.front() == '[') {
    const size_t close = text.find(']');
    if (close == std::string_view::npos) {
      return {};
    }
    return {LineKind::Section, Trim(text.substr(1, close - 1)), {}};
  }
  const size_t equals = text.find('=');
  if (equals == std::string_view::npos) {
    return {};
  }
  const std::string_view key = Trim(text.substr(0, equals));
  if (key.empty()) {
    return {};
  }
  return {LineKind::Key, key, Trim(text.substr(equals + 1))};
}

// Splits into lines without their line ends; both LF and CRLF end a line.
std::vector<std::string> SplitLines(const std::string& content) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find('\n', start);
    if (end == std::string::npos) {
      end = content.size();
    }
    std::string line = content.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

// Where a key lives in the file: the first matching key line inside any block of the
// section, and the first block of the section (where a new key goes).
struct KeyPosition {
  std::optional<size_t> keyLine;
  std::optional<size_t> sectionLine;
  size_t insertAt = 0;  // after the last key line of the first block
};

KeyPosition Locate(const std::vector<std::string>& lines, std::string_view section,
                   std::string_view key) {
  KeyPosition pos;
  bool inSection = false;
  bool inFirstBlock = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    const LineInfo info = Classify(lines[i], i == 0);
    if (info.kind == LineKind::Section) {
      inSection = SameName(info.name, section);
      inFirstBlock = inSection && !pos.sectionLine;
      if (inFirstBlock) {
        pos.sectionLine = i;
        pos.insertAt = i + 1;
      }
    } else if (info.kind == LineKind::Key && inSection) {
      if (inFirstBlock) {
        pos.insertAt = i + 1;
      }
      if (!pos.keyLine && SameName(info.name, key)) {
        pos.keyLine = i;
      }
    }
  }
  return pos;
}

// A value with blanks at its ends, or one that is itself in quotes, is written in quotes, so
// that reading (which trims and removes one pair of quotes) gives it back unchanged.
std::string EncodeValue(std::string_view value) {
  const bool blankEnds = !value.empty() && (IsBlank(value.front()) || IsBlank(value.back()));
  const bool quoted = value.size() >= 2 && value.front() == '"' && value.back() == '"';
  if (blankEnds || quoted) {
    return "\"" + std::string(value) + "\"";
  }
  return std::string(value);
}

bool HasLineBreakOrNul(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// Reads a regular file of reasonable size whole. Nothing when it is missing, not a regular
// file, too large or unreadable.
std::optional<std::string> ReadWholeFile(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxFileSize) {
    return std::nullopt;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    return std::nullopt;
  }
  std::string content;
  content.resize(static_cast<size_t>(st.st_size));
  in.read(content.data(), static_cast<std::streamsize>(content.size()));
  if (in.bad()) {
    return std::nullopt;
  }
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
  if (slash == std::string::npos) {
    return ".";
  }
  return slash == 0 ? "/" : path.substr(0, slash);
}

mode_t CurrentUmask() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Umask:", 0) == 0) {
      return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8) & 0777u);
    }
  }
  return 022;
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
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

// Names and values that would break the line structure, or could not be found again, are
// refused rather than written.
bool CanHold(const ProfileValue& v) {
  const std::string_view section = v.Section;
  const std::string_view key = v.Key;
  return !section.empty() && !key.empty() && Trim(section) == section && Trim(key) == key &&
         !HasLineBreakOrNul(section) && !HasLineBreakOrNul(key) && !HasLineBreakOrNul(v.Value) &&
         section.find(']') == std::string_view::npos && key.find('=') == std::string_view::npos &&
         key.front() != '[' && key.front() != ';' && key.front() != '#';
}

// Sets one key in the lines of a file: in place where it is, at the end of its section's
// first block, or in a new section at the end.
void SetKey(std::vector<std::string>& lines, std::string_view section, std::string_view key,
            std::string_view value) {
  const KeyPosition pos = Locate(lines, section, key);
  if (pos.keyLine) {
    // Keep the key as it is spelled in the file; only the value changes.
    const std::string_view spelled = Classify(lines[*pos.keyLine], *pos.keyLine == 0).name;
    const size_t keyStart = static_cast<size_t>(spelled.data() - lines[*pos.keyLine].data());
    lines[*pos.keyLine] =
        lines[*pos.keyLine].substr(0, keyStart) + std::string(spelled) + "=" + EncodeValue(value);
  } else if (pos.sectionLine) {
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(pos.insertAt),
                 std::string(key) + "=" + EncodeValue(value));
  } else {
    if (!lines.empty() && !Trim(lines.back()).empty()) {
      lines.emplace_back();
    }
    lines.push_back("[" + std::string(section) + "]");
    lines.push_back(std::string(key) + "=" + EncodeValue(value));
  }
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
      if (!held_) {
        usleep(1000);
      }
    }
  }
  ~FolderLock() {
    if (fd_ >= 0) {
      close(fd_);  // releases the lock
    }
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
  if (dir == nullptr) {
    return;
  }
  while (const dirent* entry = readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name.size() != prefix.size() + kTemporarySuffixLength ||
        name.substr(0, prefix.size()) != prefix) {
      continue;
    }
    struct stat st {};
    if (fstatat(dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
        st.st_uid == geteuid()) {
      unlinkat(dirfd(dir), entry->d_name, 0);
    }
  }
  closedir(dir);
}

std::string RandomSuffix() {
  static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  static std::mt19937 random{std::random_device{}()};
  std::uniform_int_distribution<size_t> pick(0, sizeof kChars - 2);
  std::string suffix;
  for (size_t i = 0; i < kTemporarySuffixLength; ++i) {
    suffix += kChars[pick(random)];
  }
  return suffix;
}

// Writes the content into a file without a name in the target's folder and names it only once
// it is complete and on disk; the path of that name, or nothing where the system cannot.
std::optional<std::string> WriteUnnamed(const std::string& path,
                                        const std::function<bool(int)>& fill) {
  const int fd = open(FolderOf(path).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (fd < 0) {
    return std::nullopt;
  }
  std::optional<std::string> named;
  if (fill(fd)) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    for (int attempt = 0; attempt < 100 && !named; ++attempt) {
      const std::string candidate = path + std::string(kTemporaryMark) + RandomSuffix();
      if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        named = candidate;
      } else if (errno != EEXIST) {
        break;
      }
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
  if (fd < 0) {
    return std::nullopt;
  }
  const bool ok = fill(fd);
  if (close(fd) != 0 || !ok) {
    unlink(temporary.c_str());
    return std::nullopt;
  }
  return temporary;
}

}  // namespace

IniProfileFile::IniProfileFile(std::string path) : path_(std::move(path)) {}

bool IniProfileFile::Exists() const {
  struct stat st {};
  return stat(path_.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

std::optional<std::string> IniProfileFile::ReadString(std::string_view section,
                                                      std::string_view key) {
  const std::optional<std::string> content = ReadWholeFile(path_);
  if (!content) {
    return std::nullopt;
  }
  const std::vector<std::string> lines = SplitLines(*content);
  const KeyPosition pos = Locate(lines, section, key);
  if (!pos.keyLine) {
    return std::nullopt;
  }
  std::string_view value = Classify(lines[*pos.keyLine], *pos.keyLine == 0).value;
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(value.substr(0, kMaxValueLength));
}

bool IniProfileFile::WriteString(std::string_view section, std::string_view key,
                                 std::string_view value) {
  return WriteStrings({{std::string(section), std::string(key), std::string(value)}});
}

bool IniProfileFile::WriteStrings(const std::vector<ProfileValue>& values) {
  for (const ProfileValue& v : values) {
    if (!CanHold(v)) {
      return false;
    }
  }

  const std::string target = ResolvedPath(path_);
  std::string content;
  struct stat st {};
  if (stat(target.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode) || !Writable(target, st)) {
      return false;
    }
    // Rewriting from anything less than the whole current file would lose its other keys.
    std::optional<std::string> current = ReadWholeFile(target);
    if (!current) {
      return false;
    }
    content = std::move(*current);
  } else if (errno != ENOENT) {
    return false;
  }
  const std::string folder = FolderOf(target);
  struct stat folderStat {};
  if (stat(folder.c_str(), &folderStat) != 0 || !Writable(folder, folderStat)) {
    return false;
  }

  std::vector<std::string> lines = SplitLines(content);
  for (const ProfileValue& v : values) {
    SetKey(lines, v.Section, v.Key, v.Value);
  }
  std::string updated;
  for (const std::string& line : lines) {
    updated += line;
    updated += '\n';
  }
  return ReplaceFile(target, updated, 0666);
}

bool IniProfileFile::ReplaceFile(const std::string& path, std::string_view content,
                                 unsigned newFileMode) {
  const FolderLock lock(FolderOf(path));
  if (lock.Held()) {
    RemoveTemporaries(path);
  }
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
    return ok && fsync(fd) == 0;
  };
  std::optional<std::string> temporary = WriteUnnamed(path, fill);
  if (!temporary) {
    temporary = WriteNamed(path, fill);
  }
  if (!temporary) {
    return false;
  }
  if (rename(temporary->c_str(), path.c_str()) != 0) {
    unlink(temporary->c_str());
    return false;
  }
  // Make the rename itself durable; a failure here does not undo the new content.
  if (lock.Fd() >= 0) {
    fsync(lock.Fd());
  }
  return true;
}

}  // namespace calvora::platform::posix
