#pragma once
// Where the settings file lives, and its error as the user reads it.
#include <string>

namespace calvora::app {

// The settings file of the program at `executable`: its path with the extension replaced by
// ".ini" (or ".ini" added where it has none).
std::string SettingsFilePathFor(const std::string& executable);

// `error` as the settings store reports it. When it is the failure to write `iniPath` and the
// folder that holds it cannot be written (an installed program in /usr/bin), a second paragraph
// says how to keep settings of one's own; any other error stays as it is.
std::string SettingsErrorForUser(const std::string& error, const std::string& iniPath);

}  // namespace calvora::app
