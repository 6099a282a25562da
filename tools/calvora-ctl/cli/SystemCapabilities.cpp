#include "SystemCapabilities.h"

#ifdef _WIN32
#include "actions/WindowsCommandWords.h"
#else
#include "actions/CommandWords.h"
#endif

namespace calvora::ctl {

const SystemCapabilities& ThisSystem() {
#ifdef _WIN32
  // Commands over window messages, the checks of the received audio, the metrics server
  // (plain HTTP, with passwords: no TLS), Ogg Opus, and no sh: a command that wants the shell
  // of Windows names it.
  static constexpr SystemCapabilities kWindows{"Windows",
                                               true,
                                               true,
                                               true,
                                               false,
                                               "; give the command as cmd /c ... instead",
                                               SplitWindowsCommandWords};
  return kWindows;
#else
  // The session bus, the received audio and its checks, the metrics server, Ogg Opus and sh.
  static constexpr SystemCapabilities kLinux{"Linux",          true, true, true, true, "",
                                             SplitCommandWords};
  return kLinux;
#endif
}

}  // namespace calvora::ctl
