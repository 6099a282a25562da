#pragma once
// The folders the options name for writing (--log, --clips), checked once at the start.
#include <string>

#include "CtlOptions.h"

namespace calvora::ctl {

// What is wrong with the first folder that cannot be written to, naming the option, or empty.
std::string StartFoldersProblem(const CtlOptions& options);

}  // namespace calvora::ctl
