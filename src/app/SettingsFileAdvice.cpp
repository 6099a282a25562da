#include "app/SettingsFileAdvice.h"

#include <unistd.h>

namespace calvora::app {

namespace {
#ifdef _WIN32
constexpr const char* kFolderSeparators = "/\\";
#else
constexpr const char* kFolderSeparators = "/";
#endif
}  // namespace

std::string SettingsFilePathFor(const std::string& executable) {
  const size_t separator = executable.find_last_of(kFolderSeparators);
  const size_t dot = executable.find_last_of('.');
  const bool hasExtension =
      dot != std::string::npos && (separator == std::string::npos || dot > separator);
  return (hasExtension ? executable.substr(0, dot) : executable) + ".ini";
}

std::string SettingsErrorForUser(const std::string& error, const std::string& iniPath,
                                 bool inUserFolder) {
  if (error != "Unable to write to " + iniPath)
    return error;
  // Every save replaces the file through a new one beside it, so the folder must be writable.
  const size_t slash = iniPath.find_last_of(kFolderSeparators);
  const std::string folder = slash == std::string::npos ? "." : iniPath.substr(0, slash + 1);
  if (::access(folder.c_str(), W_OK) == 0)
    return error;
  if (inUserFolder)
    return error + "\n\nThe folder " + folder +
           " cannot be written. Make it a folder of your own (or set XDG_CONFIG_HOME to one) and "
           "save again.";
  return error +
         "\n\nThe settings file lives beside the program, in a folder you cannot write. To keep "
         "settings of your own, copy the program into a folder you own and start it from there.";
}

}  // namespace calvora::app
