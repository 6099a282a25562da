#pragma once
// A fresh folder for one test's files, removed with everything in it afterwards, and small
// helpers to put files there and look at them.
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace calvora::testing {

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "calvora-settings-XXXXXX");
    path_ = mkdtemp(pattern.data());
  }
  ~TempDir() {
    // Folders made read-only by a test must be writable again to be removed.
    std::error_code ec;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(path_, ec))
      if (entry.is_directory(ec))
        chmod(entry.path().c_str(), 0700);
    chmod(path_.c_str(), 0700);
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::string Path(const std::string& name) const { return (path_ / name).string(); }
  const std::filesystem::path& Root() const { return path_; }

  // The names of every file in the folder (not in subfolders), sorted.
  std::vector<std::string> Files(const std::string& sub = {}) const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_ / sub))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::filesystem::path path_;
};

inline void WriteFile(const std::string& path, const std::string& content) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << content;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

inline unsigned ModeOf(const std::string& path) {
  struct stat st {};
  stat(path.c_str(), &st);
  return st.st_mode & 07777u;
}

}  // namespace calvora::testing
