#pragma once
// How a settings file's text is stored on disk: the byte-order marks and encodings the Windows
// profile functions read. Every system reads and writes them the same way, so a file moves
// between systems as it is.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace calvora::platform::ini {

enum class ProfileEncoding {
  Ansi,     // the system's ANSI code page, no byte-order mark (Windows)
  Utf8,     // UTF-8 without a byte-order mark, as this program has always written new files
  Utf8Bom,  // UTF-8 after EF BB BF
  Utf16Le,  // UTF-16 after FF FE (Notepad's "Unicode")
  Utf16Be,  // UTF-16 after FE FF
};

// The 8-bit code page in which Windows reads a file without a byte-order mark. Other systems
// have none: there such a file is UTF-8.
class AnsiCodePage {
 public:
  virtual ~AnsiCodePage() = default;
  virtual std::string ToUtf8(std::string_view bytes) const = 0;
  // Nothing when a character has no place in the code page (the system would put a look-alike
  // or "?" in its place).
  virtual std::optional<std::string> FromUtf8(std::string_view utf8) const = 0;
};

// The encoding of a file's bytes. A byte-order mark names it. Without one, and without a code
// page, the text is UTF-8; with a code page it is in that code page, unless it is valid UTF-8
// with letters beyond ASCII (a file this program wrote before, or an editor's UTF-8), which no
// ANSI text plausibly is.
ProfileEncoding DetectEncoding(std::string_view bytes, const AnsiCodePage* ansi);

// The mark a file in the encoding starts with; empty for none.
std::string_view ByteOrderMark(ProfileEncoding encoding);

// Bytes in one code unit of the encoding: 2 for UTF-16, 1 for the others.
size_t CodeUnitSize(ProfileEncoding encoding);

// The code unit at a position (counted in code units) of text in the encoding.
char16_t CodeUnitAt(std::string_view bytes, size_t index, ProfileEncoding encoding);

// Text in the encoding (whole code units, no mark) as UTF-8. UTF-8 text is taken as it stands;
// a lone surrogate of UTF-16 text reads as U+FFFD.
std::string DecodeText(std::string_view bytes, ProfileEncoding encoding, const AnsiCodePage* ansi);

// UTF-8 text as bytes in the encoding, without a mark; nothing when the code page cannot hold
// a character. Bytes that are not UTF-8 become U+FFFD in UTF-16.
std::optional<std::string> EncodeText(std::string_view utf8, ProfileEncoding encoding,
                                      const AnsiCodePage* ansi);

}  // namespace calvora::platform::ini
