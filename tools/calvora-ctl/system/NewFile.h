#pragma once
// A file made new for writing bytes, through the system's own form of its path (the wide one on
// Windows, where a narrow path would be read in the ANSI code page).
#include <cstdio>
#include <filesystem>

namespace calvora::ctl {

// Opens `path` for writing in binary, failing when it exists already (another writer has it):
// nullptr with errno set then, or when it cannot be made.
std::FILE* OpenNewFile(const std::filesystem::path& path);

}  // namespace calvora::ctl
