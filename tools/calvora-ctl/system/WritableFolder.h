#pragma once
// A folder the program will write into (the event log's, the clips'), tried once at the start:
// made if missing, and a file made and removed in it, so that a folder that cannot be used is
// found before the monitor starts rather than at the first event.
#include <filesystem>
#include <string>

namespace calvora::ctl {

// Why the folder cannot be written to, in the system's words, or empty when it can.
std::string WritableFolderProblem(const std::filesystem::path& folder);

}  // namespace calvora::ctl
