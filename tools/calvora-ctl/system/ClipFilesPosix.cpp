#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "ClipFiles.h"

namespace calvora::ctl {

namespace {

// A descriptor closed when it goes.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0)
      close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  Descriptor& operator=(Descriptor&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

}  // namespace

EntryKind EntryKindOf(const std::filesystem::path& path) {
  struct stat status {};
  if (lstat(path.c_str(), &status) != 0)
    return errno == ENOENT || errno == ENOTDIR ? EntryKind::kMissing : EntryKind::kOther;
  if (S_ISREG(status.st_mode))
    return EntryKind::kFile;
  return S_ISDIR(status.st_mode) ? EntryKind::kFolder : EntryKind::kOther;
}

bool RemoveFileIn(const std::filesystem::path& folder, const std::filesystem::path& name) {
  // The file is looked at and removed through the folder's own descriptor, so a folder swapped
  // for a link meanwhile is not gone through.
  const Descriptor dir(open(folder.c_str(), kFolderFlags));
  struct stat status {};
  if (dir.get() < 0 || fstatat(dir.get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 ||
      !S_ISREG(status.st_mode))
    return false;
  return unlinkat(dir.get(), name.c_str(), 0) == 0;
}

FileRead ReadFileUnder(const std::filesystem::path& root, const std::filesystem::path& relative,
                       uint64_t maxBytes) {
  const auto failed = [](FileRead::Result result) {
    const int error = errno;
    return FileRead{error == ENOENT ? FileRead::kMissing : result, {}, std::strerror(error)};
  };
  // The root is the station's choice and may be a link; below it, nothing is.
  Descriptor dir(open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() < 0)
    return failed(FileRead::kFailed);
  const std::filesystem::path file = relative.filename();
  for (const auto& folder : relative.parent_path()) {
    Descriptor inner(openat(dir.get(), folder.c_str(), kFolderFlags));
    if (inner.get() < 0)
      return failed(FileRead::kNotAFile);
    dir = std::move(inner);
  }
  // O_NONBLOCK: opening a pipe waits for no writer; it is then refused as no regular file.
  const Descriptor fd(
      openat(dir.get(), file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (fd.get() < 0)
    return failed(FileRead::kNotAFile);
  struct stat status {};
  if (fstat(fd.get(), &status) != 0)
    return failed(FileRead::kFailed);
  if (!S_ISREG(status.st_mode))
    return {FileRead::kNotAFile, {}, "not a regular file"};
  const auto size = static_cast<uint64_t>(status.st_size);
  if (size > maxBytes)
    return {FileRead::kTooLarge, {}, "larger than any clip"};
  // The size read at the start bounds the reading, should the file grow meanwhile.
  FileRead read{FileRead::kRead, std::string(size, '\0'), {}};
  std::size_t done = 0;
  while (done < read.bytes.size()) {
    const ssize_t n = ::read(fd.get(), read.bytes.data() + done, read.bytes.size() - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0)
      return failed(FileRead::kFailed);
    if (n == 0)
      break;
    done += static_cast<std::size_t>(n);
  }
  read.bytes.resize(done);
  return read;
}

}  // namespace calvora::ctl
