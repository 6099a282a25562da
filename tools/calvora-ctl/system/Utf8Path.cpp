#include "Utf8Path.h"

namespace calvora::ctl {

std::filesystem::path PathFromUtf8(std::string_view utf8) {
  return std::filesystem::path(
      std::u8string_view(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

std::string Utf8FromPath(const std::filesystem::path& path) {
  try {
    const std::u8string utf8 = path.u8string();
    return std::string(utf8.begin(), utf8.end());
  } catch (const std::filesystem::filesystem_error&) {
    return {};
  }
}

}  // namespace calvora::ctl
