// calvora-ctl: a controlling program for Calvora Audio Mixer on the command line. It talks to
// the utility's window over the session bus exactly as any controlling program does.
#include <signal.h>

#include <cstdio>
#include <string>
#include <vector>

#include "StationServicesFromOptions.h"
#include "cli/CtlHelp.h"
#include "cli/CtlOptions.h"
#include "cli/StartFolders.h"
#include "http/WebSecurity.h"
#include "peer/Controller.h"
#include "platform/dbus/SdBusDesktop.h"

namespace calvora::ctl {
namespace {

using platform::dbus::SdBusDesktop;

volatile sig_atomic_t interrupted = 0;

void OnSignal(int) {
  interrupted = 1;
}

void InstallSignals() {
  struct sigaction action {};
  action.sa_handler = OnSignal;  // no SA_RESTART: a wait on the bus returns at once
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP})
    sigaction(signal, &action, nullptr);
  ::signal(SIGPIPE, SIG_IGN);  // a closed output ends watch through the write error instead
}

int Run(const CtlOptions& options) {
  if (options.command == Command::kHelp) {
    std::fputs(UsageText(), stdout);
    return kExitOk;
  }
  // A web configuration that cannot be used stops the program before it waits for anything.
  HttpSecurity security;
  if (options.webConfig) {
    std::string error;
    auto loaded = LoadHttpSecurity(*options.webConfig, error);
    if (!loaded) {
      Fail(error);
      return kExitUsage;
    }
    security = std::move(*loaded);
  }
  // So do the folders of the event log and the clips, found now rather than at the first event.
  if (const std::string problem = StartFoldersProblem(options); !problem.empty()) {
    Fail(problem);
    return kExitUsage;
  }
  InstallSignals();
  auto desktop = SdBusDesktop::Open(kOwnClass);
  if (!desktop->Connected()) {
    Fail(desktop->ErrorText() +
         " (is DBUS_SESSION_BUS_ADDRESS set, or $XDG_RUNTIME_DIR/bus there?)");
    return kExitNoUtility;
  }
  ControllerHost host;
  host.waitAndProcess = [&desktop](int32_t timeoutMs) { desktop->WaitAndProcess(timeoutMs); };
  host.connected = [&desktop] { return desktop->Connected(); };
  host.interrupted = [] { return interrupted != 0; };
  host.where = "on this session bus";
  host.makeStationServices = [&options, &security](platform::WindowHandle utility,
                                                   ControllerHost::Report report, int& exitCode) {
    return StationServicesFromOptions::Make(options, security, utility, std::move(report),
                                            exitCode);
  };
  return Controller(*desktop, host, options).Run();
}

}  // namespace
}  // namespace calvora::ctl

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string error;
  const auto options = calvora::ctl::ParseCommandLine(args, error);
  if (!options) {
    std::fprintf(stderr, "calvora-ctl: %s\nTry 'calvora-ctl --help'.\n", error.c_str());
    return calvora::ctl::kExitUsage;
  }
  return calvora::ctl::Run(*options);
}
