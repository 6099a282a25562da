#pragma once
// The commands of calvora-ctl on any desktop: finding the utility's window, sending it
// commands, and watch, auto and serve as a peer that the utility admits and notifies. The
// program's entry gives it the desktop and the few things that differ between systems.
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "cli/CtlOptions.h"
#include "events/StationServices.h"
#include "link/WinMSG.h"
#include "platform/Desktop.h"

namespace calvora::ctl {

// serve ends only on a signal (0), or on its own errors: a bad command line (1), an address it
// cannot listen on (4), a desktop that carries no messages any more (5).
enum Exit {
  kExitOk = 0,
  kExitUsage = 1,
  kExitNoUtility = 2,
  kExitNoAnswer = 3,
  kExitListen = 4,
  kExitDesktopGone = 5
};

constexpr const char* kOwnClass = "CalvoraCtl";

// What the controller needs from the program around it beside the desktop.
struct ControllerHost {
  using Report = ReportLine;

  // Answers the messages to this program's window, waiting up to timeoutMs for one.
  std::function<void(int32_t timeoutMs)> waitAndProcess;
  // Whether the desktop still carries messages (a session bus can go away).
  std::function<bool()> connected = [] { return true; };
  // Whether the user asked this program to end (Ctrl+C and its kin).
  std::function<bool()> interrupted;
  // Where the utilities are looked for, as the error texts say it: "on this session bus".
  std::string where;
  // The steady clock in milliseconds that the waits of the sessions and of serve are timed by.
  std::function<int64_t()> nowMs;
  // Where the lines on stderr go ("calvora-ctl: " in front); by default a writer of their own.
  Report report;
  // The station services of watch or auto of `utility`, or of the whole of serve (`utility`
  // 0: none yet), reporting through `report` (which may be called from other threads); null
  // when none are asked for. Sets exitCode, after saying why, when they cannot start.
  std::function<std::unique_ptr<StationServices>(platform::WindowHandle utility, Report report,
                                                 int& exitCode)>
      makeStationServices;
};

struct PeerServices;

// How a peer started by watch, auto or serve behaves.
enum class PeerMode { kWatch, kAuto, kServe };

class Controller {
 public:
  Controller(platform::Desktop& desktop, const ControllerHost& host, const CtlOptions& options);

  // Carries out the command of the options (not help); the exit status.
  int Run();

 private:
  // The utility the command line means, or 0 with `why` saying why there is none.
  platform::WindowHandle Choose(std::string& why);
  int List();
  int Identify(platform::WindowHandle utility);
  int Command(platform::WindowHandle utility, uint16_t code, uint16_t argument);
  int Watch(platform::WindowHandle utility, PeerMode mode);
  // serve: serves from start to a signal, attached to the utility while there is one.
  int Serve();
  // The services and the event log of watch, auto and serve; kExitOk or why they cannot start.
  int MakeServices(platform::WindowHandle utility, PeerServices& services);
  // The steady millisecond at which --duration is up, from now; -1 without one.
  int64_t DurationEnd() const;
  int64_t NowMs() const;

  platform::Desktop& desktop_;
  const ControllerHost& host_;
  const CtlOptions& options_;
};

// Tells a failure on stderr: "calvora-ctl: message".
void Fail(const std::string& message);

}  // namespace calvora::ctl
