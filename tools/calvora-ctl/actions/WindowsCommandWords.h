#pragma once
// A command line for --on-silence and its kin on Windows, split into words as Windows programs
// split their own command line: blanks separate words, "double quotes" group them, and a
// backslash is an ordinary character except in front of a quote, so paths keep theirs. Joined
// again, the words make the command line from which the started program gets exactly them.
#include <optional>
#include <string>
#include <vector>

namespace calvora::ctl {

// The words of text; nothing, with error set, for no word at all.
std::optional<std::vector<std::string>> SplitWindowsCommandWords(const std::string& text,
                                                                 std::string& error);

std::string JoinWindowsCommandWords(const std::vector<std::string>& words);

}  // namespace calvora::ctl
