#pragma once
// The command line of calvora-ctl.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace calvora::ctl {

enum class Command { kList, kIdentify, kRun, kStop, kMute, kUnmute, kWatch, kBye, kAuto, kHelp };

struct CtlOptions {
  Command command = Command::kHelp;
  std::optional<uint32_t> handle;  // --handle: the utility's window
  std::optional<int32_t> pid;      // --pid: the utility that answers this program ID
  bool restore = false;            // run --restore
  bool mute = false;               // stop --mute
  bool json = false;               // one JSON object per line
  uint32_t levelsEvery = 1;        // print every Nth audio block
  double durationSeconds = 0;      // watch/auto: stop after this long (0: until interrupted)
};

// Parses argv; on a mistake returns nothing and sets error.
std::optional<CtlOptions> ParseCommandLine(const std::vector<std::string>& args,
                                           std::string& error);

// The text of --help.
const char* UsageText();

}  // namespace calvora::ctl
