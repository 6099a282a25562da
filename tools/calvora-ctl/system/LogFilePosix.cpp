#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "LogFile.h"

namespace calvora::ctl {

namespace {

// Makes the folder and the folders above it that are missing.
void MakeFolders(const std::string& path) {
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1))
    mkdir(path.substr(0, slash).c_str(), 0755);
  mkdir(path.c_str(), 0755);
}

}  // namespace

AppendFailure AppendToLogFile(const std::string& folder, const std::string& path,
                              const std::string& text) {
  // The day's log is a file of its own: a link under its name is not followed, and a pipe
  // without a reader (O_NONBLOCK) fails at once rather than holding up the events.
  const int flags = O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK;
  int fd = open(path.c_str(), flags, 0644);
  if (fd < 0 && errno == ENOENT) {
    MakeFolders(folder);
    fd = open(path.c_str(), flags, 0644);
  }
  if (fd < 0)
    return {AppendFailure::kOpen, errno == ELOOP ? "it is a link" : std::strerror(errno)};
  struct stat status {};
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    close(fd);
    return {AppendFailure::kOpen, "it is no regular file"};
  }
  AppendFailure failure;
  const ssize_t n = write(fd, text.data(), text.size());
  if (n != static_cast<ssize_t>(text.size()))
    failure = {AppendFailure::kWrite, n < 0 ? std::strerror(errno) : "the disk is full"};
  if (close(fd) != 0 && failure.step == AppendFailure::kNone)
    failure = {AppendFailure::kWrite, std::strerror(errno)};
  return failure;
}

}  // namespace calvora::ctl
