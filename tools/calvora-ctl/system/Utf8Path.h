#pragma once
// Paths from and to the UTF-8 text the program keeps names in (options, log lines, JSON). On
// Windows a path is UTF-16 inside: std::filesystem takes a plain std::string through the C
// locale (byte by byte), and fopen reads a narrow name in the ANSI code page, so a folder with
// letters beyond ASCII ("Clips Łódź", or under such a user name) would be another folder or
// none. These convert as UTF-8 explicitly, on both systems.
#include <filesystem>
#include <string>
#include <string_view>

namespace calvora::ctl {

// The path named by UTF-8 text (Windows: text that is no valid UTF-8 throws
// std::filesystem::filesystem_error; the command line's words always are valid).
std::filesystem::path PathFromUtf8(std::string_view utf8);

// The path as UTF-8; empty for a name that has none (an unpaired surrogate, which Windows
// allows in file names), so that such a file is passed over rather than ending the program.
std::string Utf8FromPath(const std::filesystem::path& path);

}  // namespace calvora::ctl
