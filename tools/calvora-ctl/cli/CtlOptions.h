#pragma once
// The command line of calvora-ctl.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "SystemCapabilities.h"
#include "events/StationEvents.h"
#include "http/ListenAddress.h"
#include "monitor/CheckSettings.h"

namespace calvora::ctl {

enum class Command {
  kList,
  kIdentify,
  kRun,
  kStop,
  kMute,
  kUnmute,
  kWatch,
  kBye,
  kAuto,
  kServe,
  kHelp
};

struct CtlOptions {
  Command command = Command::kHelp;
  std::optional<uint32_t> handle;  // --handle: the utility's window
  std::optional<int32_t> pid;      // --pid: the utility that answers this program ID
  bool restore = false;            // run --restore
  bool mute = false;               // stop --mute
  bool json = false;               // one JSON object per line
  uint32_t levelsEvery = 1;        // print every Nth audio block
  double durationSeconds = 0;      // watch/auto/serve: stop after this long (0: until interrupted)
  // --on-silence, --on-sound, --on-offline, --on-online, --on-channel-lost ..., by EventKind:
  // the program and its arguments (with --shell: sh -c and the text); empty when not given.
  EventActions actions;
  CheckSettings checks;  // --checks and the checks' settings (watch, auto, serve on Linux)
  std::optional<std::string> logFolder;  // --log DIR
  std::optional<ListenAddress> listen;   // --listen; serve without it listens on kDefaultListen
  std::optional<std::string> station;    // --station: the metrics' station label (else the host)
  std::optional<std::string> webConfig;  // --web-config: TLS and passwords of the server

  // serve: listening in at /listen, and the clips of events.
  int listenBitrate = 64000;               // --listen-bitrate, bits per second
  int listenMax = 16;                      // --listen-max: listeners at once
  std::optional<std::string> clipsFolder;  // --clips DIR
  uint64_t clipsMaxMb = 500;               // --clips-max-mb
  int clipsDays = 30;                      // --clips-days
};

constexpr const char* kDefaultListen = "127.0.0.1:9794";

// The option that names the command for an event ("--on-silence").
inline std::string ActionOption(EventKind kind) {
  return std::string("--on-") + EventName(kind);
}

// Parses the words after the program's name as the command line of `system`; on a mistake
// returns nothing and sets error.
std::optional<CtlOptions> ParseCommandLine(const std::vector<std::string>& args, std::string& error,
                                           const SystemCapabilities& system = ThisSystem());

}  // namespace calvora::ctl
