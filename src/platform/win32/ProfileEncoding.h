#pragma once
// How a settings file's text is stored on disk, read the way the Windows profile functions read
// it and kept when the file is written back.
#include <string>
#include <string_view>

namespace calvora::platform::win32 {

enum class ProfileEncoding {
  Ansi,     // the system's ANSI code page, no byte-order mark
  Utf8,     // UTF-8 without a byte-order mark, as this program has always written new files
  Utf8Bom,  // UTF-8 after EF BB BF
  Utf16Le,  // UTF-16 after FF FE (Notepad's "Unicode")
  Utf16Be,  // UTF-16 after FE FF
};

struct ProfileText {
  std::string Utf8;  // without the byte-order mark
  ProfileEncoding Encoding = ProfileEncoding::Utf8;
};

// The file's bytes as UTF-8 text. A byte-order mark names the encoding; without one the text is
// in the ANSI code page, unless it is valid UTF-8 with letters beyond ASCII (a file this
// program wrote before, or an editor's UTF-8), which no ANSI text plausibly is.
ProfileText DecodeProfile(std::string_view bytes);

// The text as the file's bytes in the encoding, with its byte-order mark. An ANSI file whose
// text has a character the code page cannot hold becomes UTF-16, which the profile functions
// read too, rather than lose the character.
std::string EncodeProfile(std::string_view utf8, ProfileEncoding encoding);

}  // namespace calvora::platform::win32
