#pragma once
// Texts cross into the Windows API as UTF-16 and come back as UTF-8.
#include <string>
#include <string_view>

namespace calvora::platform::win32 {

// Invalid UTF-8 sequences become U+FFFD.
std::wstring Widen(std::string_view utf8);

// Unpaired surrogates become U+FFFD.
std::string Narrow(std::wstring_view utf16);

}  // namespace calvora::platform::win32
