#include "CommandWords.h"

namespace calvora::ctl {

std::optional<std::vector<std::string>> SplitCommandWords(const std::string& text,
                                                          std::string& error) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;  // an empty pair of quotes makes a word too
  enum class Quote { kNone, kSingle, kDouble } quote = Quote::kNone;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    switch (quote) {
      case Quote::kSingle:
        if (c == '\'')
          quote = Quote::kNone;
        else
          word += c;
        break;
      case Quote::kDouble:
        if (c == '"')
          quote = Quote::kNone;
        else if (c == '\\' && i + 1 < text.size() &&
                 std::string_view("\"\\$`").find(text[i + 1]) != std::string_view::npos)
          word += text[++i];
        else if (c == '\\' && i + 1 < text.size() && text[i + 1] == '\n')
          ++i;  // a continued line
        else
          word += c;
        break;
      case Quote::kNone:
        if (c == ' ' || c == '\t' || c == '\n') {
          if (inWord)
            words.push_back(std::move(word));
          word.clear();
          inWord = false;
        } else if (c == '\'') {
          quote = Quote::kSingle;
          inWord = true;
        } else if (c == '"') {
          quote = Quote::kDouble;
          inWord = true;
        } else if (c == '\\') {
          if (i + 1 >= text.size()) {
            error = "a backslash ends the command";
            return std::nullopt;
          }
          if (text[++i] != '\n') {
            word += text[i];
            inWord = true;
          }
        } else {
          word += c;
          inWord = true;
        }
        break;
    }
  }
  if (quote != Quote::kNone) {
    error = std::string("the command has an unfinished ") +
            (quote == Quote::kSingle ? "'single quote'" : "\"double quote\"");
    return std::nullopt;
  }
  if (inWord)
    words.push_back(std::move(word));
  if (words.empty()) {
    error = "the command is empty";
    return std::nullopt;
  }
  return words;
}

}  // namespace calvora::ctl
