#include "NewFile.h"

namespace calvora::ctl {

std::FILE* OpenNewFile(const std::filesystem::path& path) {
  return std::fopen(path.c_str(), "wbx");
}

}  // namespace calvora::ctl
