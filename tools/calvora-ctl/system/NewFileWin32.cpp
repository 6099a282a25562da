#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>

#include "NewFile.h"

namespace calvora::ctl {

// msvcrt.dll's fopen, which mingw-w64 links, does not honour C11's "x" (it opens a file that is
// there anyway), so the file is made exclusively by _wopen and handed to a FILE.
std::FILE* OpenNewFile(const std::filesystem::path& path) {
  const int fd =
      _wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
  if (fd < 0)
    return nullptr;
  std::FILE* file = _fdopen(fd, "wb");
  if (!file) {
    const int error = errno;
    _close(fd);
    errno = error;
  }
  return file;
}

}  // namespace calvora::ctl
