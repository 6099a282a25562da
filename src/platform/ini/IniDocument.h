#pragma once
// A settings file's bytes as lines, in the file's own encoding. Keys are found and set through
// the text of each line; a line that was not set is written back with the bytes it was read
// with, so comments, other keys and bytes that do not decode (an odd last byte of a UTF-16
// file, a lone surrogate) come back exactly as they were.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ProfileFile.h"
#include "platform/ini/ProfileEncoding.h"

namespace calvora::platform::ini {

// A settings file is a few hundred bytes; anything far larger is not one we should load
// whole, and not one we may rewrite from a partial read.
constexpr size_t kMaxFileSize = 16 * 1024 * 1024;

class IniDocument {
 public:
  // The content of an existing file. New lines take the file's first line end, or newLineEnd
  // in a file that has none.
  static IniDocument Read(std::string_view bytes, const AnsiCodePage* ansi,
                          std::string_view newLineEnd);
  // A file that does not exist yet: UTF-8 without a mark.
  static IniDocument New(std::string_view newLineEnd);

  ProfileEncoding Encoding() const { return encoding_; }

  // The value of the key, looked for in the first block of the section only, trimmed of
  // blanks, without one pair of enclosing quotes and cut to what the classic API's 2048-byte
  // buffer holds; nothing when the section or key is absent.
  std::optional<std::string> Find(std::string_view section, std::string_view key) const;

  // Sets every key in order: in place where it is (a key that already reads as the value is
  // left as it stands), at the end of its section's first block, or in a new section at the
  // end. The caller checks the values with CanHold first.
  void Set(const std::vector<ProfileValue>& values);

  // The whole file: lines that were not set as they were read, the others in the file's
  // encoding. An ANSI file that is given a character its code page lacks becomes UTF-16 as a
  // whole, which the profile functions read too, rather than lose the character or mix two
  // encodings in one file.
  std::string Bytes() const;

 private:
  struct Line {
    std::string text;  // UTF-8, without the line end
    std::string end;   // the line end as read ("\r\n", "\n", "\r", "\r\r\n") or "" at the end
    std::string raw;   // the line's bytes as read, without the line end
    bool rewritten = false;
  };

  IniDocument(ProfileEncoding encoding, const AnsiCodePage* ansi, std::string newLineEnd);
  std::optional<std::string> BytesIn(ProfileEncoding encoding) const;
  void Insert(size_t at, std::string text);

  ProfileEncoding encoding_;
  const AnsiCodePage* ansi_;
  std::string newLineEnd_;
  std::vector<Line> lines_;
  std::string tail_;  // bytes after the last whole code unit, kept at the end
};

}  // namespace calvora::platform::ini
