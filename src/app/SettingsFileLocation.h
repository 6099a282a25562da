#pragma once
// Which settings file this copy of the program reads and saves. A program in a folder it can
// write (a build tree, a copied or portable program) keeps the file beside itself, as it always
// has; an installed one, whose folder ordinary users cannot write, keeps it in the user's own
// configuration folder, where the first start copies the file an administrator put beside the
// program as the user's starting point.
#include <functional>
#include <optional>
#include <string>

namespace calvora::app {

inline constexpr const char* kUserSettingsFolder = "calvora-audio-mixer";
inline constexpr const char* kUserSettingsFile = "calvora-audio-mixer.ini";

struct SettingsFileLocation {
  // The file the program reads and saves.
  std::string path;
  // The file beside the executable: `path` itself, or the user file's starting point.
  std::string besideProgram;
  bool InUserFolder() const { return path != besideProgram; }
};

// What the choice looks at, so tests can stand in for the system.
struct SettingsFileSystem {
  std::function<bool(const std::string& folder)> folderWritable;
  std::function<std::optional<std::string>(const std::string& name)> environment;
  // The user's home folder from the password database, for a session without HOME.
  std::function<std::optional<std::string>()> homeFromAccount;
};

// The system's own answers: access(2), getenv(3), getpwuid_r(3).
SettingsFileSystem RealSettingsFileSystem();

// Beside the executable where its folder can be written; otherwise
// $XDG_CONFIG_HOME/calvora-audio-mixer/calvora-audio-mixer.ini, with ~/.config for an unset or
// relative XDG_CONFIG_HOME. Without any home folder it stays beside the executable. Changes
// nothing on disk, so --help may ask.
SettingsFileLocation ChooseSettingsFile(const std::string& executable,
                                        const SettingsFileSystem& system);

// Makes the user file's folder and, when the user file does not exist yet, copies the file
// beside the program into it (whole or not at all). A location beside the program needs
// nothing. Returns what went wrong, for stderr; the program then runs on, and a save reports
// the folder it cannot write in the error box.
std::optional<std::string> PrepareSettingsFile(const SettingsFileLocation& location);

}  // namespace calvora::app
