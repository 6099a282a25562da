#pragma once
// What the command line offers on each system, one list per system: a command or option that
// the list leaves out is refused with a reason, so giving a system one more is one edit there.
#include <optional>
#include <string>
#include <vector>

namespace calvora::ctl {

// Splits the text of an --on-... command into the program and its arguments, or sets error.
using CommandSplitter = std::optional<std::vector<std::string>> (*)(const std::string& text,
                                                                    std::string& error);

struct SystemCapabilities {
  const char* name;              // said when something is not available: "not available on Windows"
  bool metricsServer;            // serve, --listen and --web-config
  bool audioChecks;              // --checks, the checks' settings and the --on-... of their events
  bool oggOpus;                  // listening in at /listen and the clips of events
  bool shell;                    // --shell: the command as sh -c TEXT
  const char* shellInstead;      // what to give in place of --shell where there is none
  CommandSplitter splitCommand;  // an --on-... command as the system's shell splits it
};

// The capabilities of the system this program was built for.
const SystemCapabilities& ThisSystem();

}  // namespace calvora::ctl
