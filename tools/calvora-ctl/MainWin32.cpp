// calvora-ctl.exe: a controlling program for Calvora Audio Mixer on the command line. It finds
// the utility's window by its class and talks to it with window messages from a hidden window
// of its own, exactly as any controlling program does.
#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "StationServicesFromOptions.h"
#include "cli/CtlHelp.h"
#include "cli/CtlOptions.h"
#include "cli/StartFolders.h"
#include "http/WebSecurity.h"
#include "peer/Controller.h"
#include "platform/win32/WideText.h"
#include "platform/win32/Win32Desktop.h"
// After the desktop's header: windows.h's SendMessage and PostMessage macros would rename the
// methods of those names.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

namespace calvora::ctl {
namespace {

std::atomic<bool> interrupted{false};
// Set once the program has said its goodbye, so that closing the console waits for it.
HANDLE finished = nullptr;

// Runs on a thread of its own. Ctrl+C and Ctrl+Break end the main loop; closing the console,
// logging off and shutting down end the process as soon as this returns, so it first waits a
// little for the goodbye.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  interrupted = true;
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
    WaitForSingleObject(finished, 3000);
  return TRUE;
}

// The command line in UTF-8, whatever the code page.
std::vector<std::string> Arguments() {
  int count = 0;
  wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> args;
  for (int i = 1; words != nullptr && i < count; ++i)
    args.push_back(platform::win32::Narrow(words[i]));
  LocalFree(words);
  return args;
}

int Run(const CtlOptions& options) {
  if (options.command == Command::kHelp) {
    std::fputs(UsageText(), stdout);
    return kExitOk;
  }
  // A web configuration that cannot be used stops the program before it waits for anything. It
  // may ask for passwords; one that asks for TLS is refused, as the server has none here.
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
  finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(&OnConsoleEvent, TRUE);
  platform::win32::Win32Desktop desktop(kOwnClass);
  if (desktop.OwnWindow() == 0) {
    Fail("cannot make this program's window (error " + std::to_string(GetLastError()) + ")");
    return kExitNoUtility;
  }
  ControllerHost host;
  host.waitAndProcess = [&desktop](int32_t timeoutMs) { desktop.WaitAndProcess(timeoutMs); };
  host.interrupted = [] { return interrupted.load(); };
  host.where = "on this desktop";
  host.makeStationServices = [&options, &security](platform::WindowHandle utility,
                                                   ControllerHost::Report report, int& exitCode) {
    return StationServicesFromOptions::Make(options, security, utility, std::move(report),
                                            exitCode);
  };
  const int exitCode = Controller(desktop, host, options).Run();
  SetEvent(finished);
  return exitCode;
}

}  // namespace
}  // namespace calvora::ctl

int main() {
  std::string error;
  const auto options = calvora::ctl::ParseCommandLine(calvora::ctl::Arguments(), error);
  if (!options) {
    std::fprintf(stderr, "calvora-ctl: %s\nTry 'calvora-ctl --help'.\n", error.c_str());
    return calvora::ctl::kExitUsage;
  }
  return calvora::ctl::Run(*options);
}
