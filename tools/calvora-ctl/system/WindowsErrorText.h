#pragma once
// The system's words for a Windows error code.
#include <string>

namespace calvora::ctl {

// The message without its line break and full stop; "error N" when the system has none.
std::string WindowsErrorText(unsigned long error);

}  // namespace calvora::ctl
