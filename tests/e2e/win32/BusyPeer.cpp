// busy-peer.exe CLASS BUSY_MS [CODE]: a controlling program under test. It opens a window of
// the given class, announces itself to the utility's window, and prints what it receives, one
// line each: "received <from> <code> <argument>" for a window message, "data <from> <size>"
// for a data message. After the first notice it is busy for BUSY_MS milliseconds, serving
// nothing, and then prints "awake" (0: never busy); with CODE it is busy inside its handler
// of the first notice of that code instead, and prints "busy" first. It ends half a second
// after the utility's goodbye (printing whatever else comes meanwhile) or after two minutes.
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
  if (argc != 3 && argc != 4)
    return 2;
  const int busyMs = std::atoi(argv[2]);
  const long busyInCode = argc == 4 ? std::strtol(argv[3], nullptr, 0) : -1;
  Win32Desktop desktop(argv[1]);
  bool noticed = false;
  bool ended = false;
  bool wasBusy = busyMs == 0;
  desktop.SetMessageHandler([&](const IncomingMessage& m) {
    if (m.message != kWinMsg)
      return 0;
    const uint32_t code = m.lParam >> 16;
    Say("received " + std::to_string(m.wParam) + " " + std::to_string(code) + " " +
        std::to_string(m.lParam & 0xFFFF));
    noticed = noticed || code != 0x7FFF;
    ended = ended || m.lParam == kBye;
    if (!wasBusy && static_cast<long>(code) == busyInCode) {
      wasBusy = true;
      Say("busy");
      Sleep(static_cast<DWORD>(busyMs));
      Say("awake");
    }
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

  ULONGLONG end = GetTickCount64() + 120000;
  bool lingering = false;
  while (GetTickCount64() < end) {
    desktop.WaitAndProcess(20);
    if (ended && !lingering) {
      // Whatever the utility sends after its goodbye shows.
      lingering = true;
      end = GetTickCount64() + 500;
    }
    if (noticed && !wasBusy && busyInCode < 0) {
      wasBusy = true;
      Sleep(static_cast<DWORD>(busyMs));
      Say("awake");
    }
  }
  return 0;
}
