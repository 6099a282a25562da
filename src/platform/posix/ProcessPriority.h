#pragma once

namespace calvora::platform::posix {

// Raises the process above normal scheduling priority where the system allows it. An
// unprivileged user is refused; the program then runs at normal priority.
void RaiseProcessPriority();

}  // namespace calvora::platform::posix
