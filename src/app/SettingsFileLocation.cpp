#include "app/SettingsFileLocation.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>
#include <vector>

#include "app/SettingsFileAdvice.h"
#include "platform/posix/IniProfileFile.h"

namespace calvora::app {

namespace fs = std::filesystem;

namespace {

std::string FolderOf(const std::string& file) {
  const size_t slash = file.find_last_of('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : file.substr(0, slash);
}

// The base of the user's configuration folders, as the XDG base directory rules give it: an
// absolute XDG_CONFIG_HOME, else ~/.config.
std::optional<std::string> UserConfigFolder(const SettingsFileSystem& system) {
  const std::optional<std::string> xdg = system.environment("XDG_CONFIG_HOME");
  if (xdg && !xdg->empty() && xdg->front() == '/')
    return *xdg;
  std::optional<std::string> home = system.environment("HOME");
  if (!home || home->empty() || home->front() != '/')
    home = system.homeFromAccount();
  if (!home || home->empty() || home->front() != '/')
    return std::nullopt;
  return (home->back() == '/' ? *home : *home + "/") + ".config";
}

}  // namespace

SettingsFileSystem RealSettingsFileSystem() {
  return {[](const std::string& folder) { return ::access(folder.c_str(), W_OK) == 0; },
          [](const std::string& name) -> std::optional<std::string> {
            const char* value = std::getenv(name.c_str());
            return value ? std::optional<std::string>(value) : std::nullopt;
          },
          []() -> std::optional<std::string> {
            std::vector<char> buffer(16384);
            passwd entry{};
            passwd* found = nullptr;
            if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
                found == nullptr || found->pw_dir == nullptr)
              return std::nullopt;
            return std::string(found->pw_dir);
          }};
}

SettingsFileLocation ChooseSettingsFile(const std::string& executable,
                                        const SettingsFileSystem& system) {
  const std::string beside = SettingsFilePathFor(executable);
  if (system.folderWritable(FolderOf(beside)))
    return {beside, beside};
  const std::optional<std::string> config = UserConfigFolder(system);
  if (!config)
    return {beside, beside};
  return {*config + "/" + kUserSettingsFolder + "/" + kUserSettingsFile, beside};
}

std::optional<std::string> PrepareSettingsFile(const SettingsFileLocation& location) {
  if (!location.InUserFolder())
    return std::nullopt;
  const std::string folder = FolderOf(location.path);
  std::error_code error;
  fs::create_directories(folder, error);
  if (error)
    return "cannot make the settings folder " + folder + ": " + error.message();
  // Once only: a user file that exists is the user's, whatever is beside the program now.
  struct stat status {};
  if (::lstat(location.path.c_str(), &status) == 0 || errno != ENOENT)
    return std::nullopt;
  std::ifstream administrators(location.besideProgram, std::ios::binary);
  if (!administrators)
    return std::nullopt;  // none put there: the user starts with the defaults
  std::ostringstream content;
  content << administrators.rdbuf();
  if (administrators.bad())
    return "cannot read " + location.besideProgram;
  // A file of the user's own, readable and writable by its owner whatever the original's bits.
  if (!platform::posix::IniProfileFile::ReplaceFile(location.path, content.str(), 0666))
    return "cannot copy " + location.besideProgram + " to " + location.path;
  return std::nullopt;
}

}  // namespace calvora::app
