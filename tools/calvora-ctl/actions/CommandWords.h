#pragma once
// A command line for --on-silence and its kin, split into words as a POSIX shell splits
// them: blanks separate words, 'single quotes' keep everything, "double quotes" keep all but
// \" \\ \$ \` which lose their backslash, and a backslash outside quotes keeps the next
// character. Nothing is expanded: no variables, no globs, no ~ (--shell leaves that to sh).
#include <optional>
#include <string>
#include <vector>

namespace calvora::ctl {

// The words of text; nothing, with error set, for an unfinished quote or no word at all.
std::optional<std::vector<std::string>> SplitCommandWords(const std::string& text,
                                                          std::string& error);

}  // namespace calvora::ctl
