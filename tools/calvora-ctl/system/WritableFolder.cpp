#include "WritableFolder.h"

#include <chrono>
#include <fstream>
#include <system_error>

namespace calvora::ctl {

namespace fs = std::filesystem;

std::string WritableFolderProblem(const fs::path& folder) {
  std::error_code error;
  fs::create_directories(folder, error);
  if (error)
    return error.message();
  if (!fs::is_directory(folder, error))
    return error ? error.message() : "not a folder";
  // A hidden name no clip and no day's log has, unlikely to be there already.
  const auto tick = std::chrono::steady_clock::now().time_since_epoch().count();
  const fs::path probe = folder / (".calvora-ctl-probe-" + std::to_string(tick));
  bool written = false;
  {
    std::ofstream file(probe, std::ios::binary);
    written = static_cast<bool>(file << "probe") && static_cast<bool>(file.flush());
  }
  const bool removed = fs::remove(probe, error);
  if (!written)
    return "a file cannot be written there";
  if (!removed)
    return "a file written there cannot be removed" + (error ? " (" + error.message() + ")" : "");
  return {};
}

}  // namespace calvora::ctl
