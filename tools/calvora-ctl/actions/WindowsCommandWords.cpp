#include "WindowsCommandWords.h"

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include "platform/win32/WideText.h"

namespace calvora::ctl {

namespace {

// One word quoted so that the command line's reader gets it back: backslashes are doubled
// only where they stand in front of a quote, inner quotes get a backslash.
std::string QuotedWord(const std::string& word) {
  if (!word.empty() && word.find_first_of(" \t\n\v\"") == std::string::npos)
    return word;
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (const char c : word) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, '\\');  // before the closing quote
  return quoted + "\"";
}

}  // namespace

std::optional<std::vector<std::string>> SplitWindowsCommandWords(const std::string& text,
                                                                 std::string& error) {
  // The system's own reader, which takes an empty line for this program's name.
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) {
    error = "the command is empty";
    return std::nullopt;
  }
  int count = 0;
  wchar_t** words = CommandLineToArgvW(platform::win32::Widen(text.substr(first)).c_str(), &count);
  if (words == nullptr) {
    error = "the command cannot be read";
    return std::nullopt;
  }
  std::vector<std::string> split;
  for (int i = 0; i < count; ++i)
    split.push_back(platform::win32::Narrow(words[i]));
  LocalFree(words);
  return split;
}

std::string JoinWindowsCommandWords(const std::vector<std::string>& words) {
  std::string line;
  for (const std::string& word : words)
    line += (line.empty() ? "" : " ") + QuotedWord(word);
  return line;
}

}  // namespace calvora::ctl
