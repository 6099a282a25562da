#pragma once
// The files of the clips folder as the system holds them, looked at, read and removed without
// following a link (a symbolic link, or on Windows a junction or another reparse point): the
// folder is this program's own, and a link or a pipe placed in it under a clip's name must not
// lead a reader or the pruning anywhere else, nor hold them up.
#include <cstdint>
#include <filesystem>
#include <string>

namespace calvora::ctl {

enum class EntryKind {
  kMissing,
  kFile,    // a regular file
  kFolder,  // a folder, not a link to one
  kOther,   // a link, a pipe, a device: never this program's
};

// What stands at `path` itself; a link is kOther whatever it points to.
EntryKind EntryKindOf(const std::filesystem::path& path);

// Removes the regular file `name` of the folder `folder`, itself no link: true when removed.
// Anything else under that name is left alone.
bool RemoveFileIn(const std::filesystem::path& folder, const std::filesystem::path& name);

struct FileRead {
  enum Result { kRead, kMissing, kNotAFile, kTooLarge, kFailed } result = kFailed;
  std::string bytes;  // the whole file, when read
  std::string why;    // the system's words, when it failed
};

// Reads the regular file at `relative` (folders and a file name) under `root`, with no link on
// the way below the root and no wait on what is not a regular file; one larger than maxBytes is
// not read.
FileRead ReadFileUnder(const std::filesystem::path& root, const std::filesystem::path& relative,
                       uint64_t maxBytes);

}  // namespace calvora::ctl
