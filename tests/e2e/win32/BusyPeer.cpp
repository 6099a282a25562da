// busy-peer.exe CLASS BUSY_MS: a controlling program under test. It opens a window of the
// given class, announces itself to the utility's window, and prints what it receives, one
// line each: "received <from> <code> <argument>" for a window message, "data <from> <size>"
// for a data message. After the first notice it is busy for BUSY_MS milliseconds, serving
// nothing, and then prints "awake" (0: never busy). It ends on the utility's goodbye or
// after two minutes.
#include <windows.h>
// The desktop's method names, not the macros that pick the W or A function.
#undef SendMessage
#undef PostMessage

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/win32/Win32Desktop.h"

using calvora::platform::IncomingData;
using calvora::platform::IncomingMessage;
using calvora::platform::WindowHandle;
using calvora::platform::WindowInfo;
using calvora::platform::win32::Win32Desktop;

namespace {

constexpr uint32_t kWinMsg = 2102;
constexpr uint32_t kHello = 0x7FFF0000;
constexpr uint32_t kBye = 0x7FFF0002;

void Say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

WindowHandle FindUtility(Win32Desktop& desktop) {
  for (const WindowInfo& window : desktop.EnumWindows())
    if (window.className == "TCV_AudioMixer")
      return window.handle;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3)
    return 2;
  const int busyMs = std::atoi(argv[2]);
  Win32Desktop desktop(argv[1]);
  bool noticed = false;
  bool ended = false;
  desktop.SetMessageHandler([&](const IncomingMessage& m) {
    if (m.message != kWinMsg)
      return 0;
    Say("received " + std::to_string(m.wParam) + " " + std::to_string(m.lParam >> 16) + " " +
        std::to_string(m.lParam & 0xFFFF));
    noticed = noticed || (m.lParam >> 16) != 0x7FFF;
    ended = ended || m.lParam == kBye;
    return 0;
  });
  desktop.SetDataHandler([&](const IncomingData& d) {
    Say("data " + std::to_string(d.wParam) + " " + std::to_string(d.bytes.size()));
    return 0;
  });

  const WindowHandle utility = FindUtility(desktop);
  if (utility == 0) {
    Say("no utility");
    return 1;
  }
  const auto hello = desktop.SendMessage(utility, kWinMsg, desktop.OwnWindow(), kHello);
  Say("ready " + std::to_string(desktop.OwnWindow()) + " " + std::to_string(hello.status));

  bool wasBusy = busyMs == 0;
  const ULONGLONG end = GetTickCount64() + 120000;
  while (!ended && GetTickCount64() < end) {
    desktop.WaitAndProcess(20);
    if (noticed && !wasBusy) {
      wasBusy = true;
      Sleep(static_cast<DWORD>(busyMs));
      Say("awake");
    }
  }
  return 0;
}
