#include "platform/posix/XdgRunKeys.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <set>

#include "platform/posix/IniProfileFile.h"

namespace calvora::platform::posix {

namespace {

constexpr std::string_view kSuffix = ".desktop";
// Desktop entries are small; a larger file is not read as one.
constexpr off_t kMaxEntrySize = 1024 * 1024;

std::string EnvOr(const char* name, std::string fallback) {
  const char* value = std::getenv(name);
  return (value != nullptr && value[0] != '\0') ? std::string(value) : fallback;
}

bool MakeFolders(const std::string& path) {
  if (path.empty())
    return false;
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string part = path.substr(0, slash);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
      return false;
    if (slash == std::string::npos)
      break;
  }
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// An entry name becomes a file name in the folder; anything that would point elsewhere
// or could not be a file name is refused.
bool ValidName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos &&
         name.size() + kSuffix.size() <= 255;
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
    text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
    text.remove_suffix(1);
  return text;
}

// The escapes every string value of a desktop entry may hold.
std::string UnescapeString(std::string_view value) {
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 == value.size()) {
      out += value[i];
      continue;
    }
    switch (value[i + 1]) {
      case 's':
        out += ' ';
        break;
      case 'n':
        out += '\n';
        break;
      case 't':
        out += '\t';
        break;
      case 'r':
        out += '\r';
        break;
      case '\\':
        out += '\\';
        break;
      default:
        out += value[i];
        out += value[i + 1];
        break;
    }
    ++i;
  }
  return out;
}

std::string EscapeString(std::string_view text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += c;
        break;
    }
  }
  return out;
}

// A command that is one quoted argument is read without its quotes and escapes, so a path
// with spaces compares as the plain path; "%%" stands for a literal "%".
std::string UnquoteExec(const std::string& exec) {
  std::string text;
  bool whole = false;
  if (exec.size() >= 2 && exec.front() == '"') {
    for (size_t i = 1; i < exec.size(); ++i) {
      const char c = exec[i];
      if (c == '\\' && i + 1 < exec.size() &&
          std::string_view("\"`$\\").find(exec[i + 1]) != std::string_view::npos) {
        text += exec[++i];
      } else if (c == '"') {
        whole = (i + 1 == exec.size());
        break;
      } else {
        text += c;
      }
    }
  }
  const std::string& source = whole ? text : exec;
  std::string out;
  for (size_t i = 0; i < source.size(); ++i) {
    out += source[i];
    if (source[i] == '%' && i + 1 < source.size() && source[i + 1] == '%')
      ++i;
  }
  return out;
}

std::string QuoteExec(std::string_view text) {
  std::string percentSafe;
  for (const char c : text) {
    percentSafe += c;
    if (c == '%')
      percentSafe += '%';
  }
  // Characters the command line syntax reserves; an argument holding any is quoted.
  constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";
  if (percentSafe.find_first_of(kReserved) == std::string::npos)
    return percentSafe;
  std::string quoted = "\"";
  for (const char c : percentSafe) {
    if (c == '"' || c == '`' || c == '$' || c == '\\')
      quoted += '\\';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

// The command of a desktop entry file: the Exec key of its [Desktop Entry] group. Anything
// else (unreadable, no such group or key) is an entry whose data is not a command text.
RunValue ReadEntry(const std::string& path, std::string name) {
  RunValue value{std::move(name), false, {}};
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxEntrySize)
    return value;
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return value;
  std::string line;
  bool inEntryGroup = false;
  bool seenEntryGroup = false;
  bool hidden = false;
  while (std::getline(in, line)) {
    const std::string_view text = TrimBlanks(line);
    if (!text.empty() && text.front() == '[') {
      // Only the first [Desktop Entry] group counts.
      inEntryGroup = !seenEntryGroup && text == "[Desktop Entry]";
      seenEntryGroup = seenEntryGroup || inEntryGroup;
      continue;
    }
    if (!inEntryGroup || text.empty() || text.front() == '#')
      continue;
    const size_t equals = text.find('=');
    if (equals == std::string_view::npos)
      continue;
    const std::string_view key = TrimBlanks(text.substr(0, equals));
    const std::string_view data = TrimBlanks(text.substr(equals + 1));
    if (key == "Exec" && !value.IsText) {
      value.IsText = true;
      value.Text = UnquoteExec(UnescapeString(data));
    } else if (key == "Hidden") {
      hidden = data == "true";
    }
  }
  // A hidden entry is one the user switched off, often to disable a system entry of the same
  // name, and usually without a command: it starts nothing and names no program.
  if (hidden) {
    value.IsText = true;
    value.Text.clear();
  }
  return value;
}

std::string EntryPath(const std::string& folder, std::string_view name) {
  return folder + "/" + std::string(name) + std::string(kSuffix);
}

// Adds the folder's entries whose names are not in the list yet; false when the folder
// cannot be opened.
bool AddEntries(const std::string& folder, std::vector<RunValue>& values,
                std::set<std::string>& names) {
  struct CloseDir {
    void operator()(DIR* d) const { closedir(d); }
  };
  std::unique_ptr<DIR, CloseDir> dir(opendir(folder.c_str()));
  if (!dir)
    return false;
  while (const dirent* entry = readdir(dir.get())) {
    const std::string_view file = entry->d_name;
    if (file.size() <= kSuffix.size() || file.substr(file.size() - kSuffix.size()) != kSuffix)
      continue;
    std::string name(file.substr(0, file.size() - kSuffix.size()));
    if (names.insert(name).second)
      values.push_back(ReadEntry(folder + "/" + std::string(file), std::move(name)));
  }
  return true;
}

}  // namespace

XdgRunKeys::XdgRunKeys() {
  const char* home = std::getenv("HOME");
  const std::string defaultConfig =
      (home != nullptr && home[0] != '\0') ? std::string(home) + "/.config" : std::string();
  std::string config = EnvOr("XDG_CONFIG_HOME", defaultConfig);
  // Relative folders in the variables are invalid and ignored.
  if (config.empty() || config.front() != '/')
    config = defaultConfig;
  if (!config.empty())
    userDir_ = config + "/autostart";
  const std::string dirs = EnvOr("XDG_CONFIG_DIRS", "/etc/xdg");
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos)
      end = dirs.size();
    const std::string dir = dirs.substr(start, end - start);
    if (!dir.empty() && dir.front() == '/')
      machineDirs_.push_back(dir + "/autostart");
    start = end + 1;
  }
}

XdgRunKeys::XdgRunKeys(std::string userDir, std::vector<std::string> machineDirs)
    : userDir_(std::move(userDir)), machineDirs_(std::move(machineDirs)) {}

std::optional<std::vector<RunValue>> XdgRunKeys::List(RunScope scope, bool create) {
  std::vector<RunValue> values;
  std::set<std::string> names;
  if (scope == RunScope::CurrentUser) {
    if (userDir_.empty() || (create && !MakeFolders(userDir_)) ||
        !AddEntries(userDir_, values, names))
      return std::nullopt;
  } else {
    // The folders are in order of precedence; the first entry of a name hides later ones, and
    // an entry of the user's hides the machine's entry of that name.
    if (!userDir_.empty()) {
      std::vector<RunValue> user;
      AddEntries(userDir_, user, names);
    }
    bool opened = false;
    for (const std::string& dir : machineDirs_)
      opened = AddEntries(dir, values, names) || opened;
    if (!opened)
      return std::nullopt;
  }
  std::sort(values.begin(), values.end(),
            [](const RunValue& a, const RunValue& b) { return a.Name < b.Name; });
  return values;
}

bool XdgRunKeys::Write(std::string_view name, std::string_view text) {
  if (!ValidName(name) || text.find('\0') != std::string_view::npos || !MakeFolders(userDir_))
    return false;
  const std::string content = "[Desktop Entry]\nType=Application\nName=Calvora Audio Mixer\nExec=" +
                              EscapeString(QuoteExec(text)) + "\nX-GNOME-Autostart-enabled=true\n";
  return IniProfileFile::ReplaceFile(EntryPath(userDir_, name), content, 0644);
}

bool XdgRunKeys::Remove(std::string_view name) {
  return ValidName(name) && !userDir_.empty() && unlink(EntryPath(userDir_, name).c_str()) == 0;
}

}  // namespace calvora::platform::posix
