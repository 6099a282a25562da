#pragma once
// Where the settings file lives, and its error as the user reads it.
#include <string>

namespace calvora::app {

// The settings file of the program at `executable`: its path with the extension replaced by
// ".ini" (or ".ini" added where it has none).
std::string SettingsFilePathFor(const std::string& executable);

// `error` as the settings store reports it. When it is the failure to write `iniPath` and the
// folder that holds it cannot be written, a second paragraph says what to do: for a file beside
// the program (`inUserFolder` false), keep a copy of the program in a folder of one's own; for
// a file in the user's configuration folder, make that folder writable. Any other error stays
// as it is.
std::string SettingsErrorForUser(const std::string& error, const std::string& iniPath,
                                 bool inUserFolder = false);

}  // namespace calvora::app
