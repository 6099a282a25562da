// calvora-test-window: a program with one window on the session bus for the link tests.
// By default it serves the class TCV_AudioMixer and answers as the utility does; it can
// announce itself to another window, hang in its handler, and take commands on stdin:
//   send <handle> <code> <argument>   prints "answer <answer> <status>"
//   notify <code> <argument>          sends to every peer, prints "notified"
//   audio <bytes>                     sends an audio packet to every peer, prints "sent-audio"
//   peers                             prints "peers <handle> ..."
//   hang <ms>                         hangs that long in every later handler
//   busy <ms>                         is busy that long at once, serving nothing, then
//                                     prints "awake"
//   gaps                              prints "gaps <messages> <longest gap in ms>" for the
//                                     messages from other windows received so far
//   quit                              says goodbye to every peer and ends
// With --quiet-data it prints no line per data message (it only counts them for gaps), so
// a test need not read its output all the time.
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>

#include "CodeTableWindow.h"
#include "platform/dbus/QtBusPump.h"
#include "platform/dbus/SdBusDesktop.h"
#include "platform/qt/QtTimers.h"

using calvora::link::TWinMSG;
using calvora::platform::dbus::SdBusDesktop;

namespace {

void Say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

// The longest time between two messages received, on the monotonic clock.
struct Gaps {
  int64_t messages = 0;
  int64_t longestMs = 0;
  std::chrono::steady_clock::time_point last;

  void Received() {
    const auto now = std::chrono::steady_clock::now();
    if (messages++ > 0) {
      longestMs = std::max<int64_t>(
          longestMs, std::chrono::duration_cast<std::chrono::milliseconds>(now - last).count());
    }
    last = now;
  }
};

void RunCommand(const std::string& line, SdBusDesktop& desktop,
                calvora::testing::CodeTableWindow& window, const Gaps& gaps) {
  std::istringstream in(line);
  std::string verb;
  in >> verb;
  if (verb == "send") {
    uint32_t target = 0;
    uint32_t code = 0;
    uint32_t argument = 0;
    in >> target >> std::hex >> code >> argument;
    Say("sending");
    const auto sent = desktop.SendMessage(target, calvora::link::WM_WINMSG, desktop.OwnWindow(),
                                          (code << 16) | (argument & 0xFFFFu));
    Say("answer " + std::to_string(sent.answer) + " " + std::to_string(sent.status));
  } else if (verb == "notify") {
    uint32_t code = 0;
    uint32_t argument = 0;
    in >> std::hex >> code >> argument;
    window.Channel().SendToPeers(static_cast<uint16_t>(code), static_cast<uint16_t>(argument));
    Say("notified");
  } else if (verb == "audio") {
    std::size_t bytes = 0;
    in >> bytes;
    const auto packet = calvora::testing::CodeTableWindow::AudioPacket(bytes);
    window.Channel().SendDataToPeers(0, 0, packet.data(), packet.size());
    Say("sent-audio");
  } else if (verb == "peers") {
    std::string text = "peers";
    for (const auto& peer : window.Channel().Peers())
      text += " " + std::to_string(peer.Handle);
    Say(text);
  } else if (verb == "hang") {
    int32_t ms = 0;
    in >> ms;
    window.SetHangMs(ms);
    Say("hanging");
  } else if (verb == "busy") {
    int32_t ms = 0;
    in >> ms;
    usleep(static_cast<useconds_t>(ms) * 1000u);
    Say("awake");
  } else if (verb == "gaps") {
    Say("gaps " + std::to_string(gaps.messages) + " " + std::to_string(gaps.longestMs));
  } else if (verb == "quit") {
    window.Channel().SendToPeers(calvora::link::WINMSG_CONTROL, calvora::link::CTRL_BYE);
    QCoreApplication::quit();
  }
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  std::string className = "TCV_AudioMixer";
  int pid = 1234;
  int hangMs = 0;
  uint32_t announceTo = 0;
  int exitAfterMs = 0;
  bool quietData = false;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--quiet-data") {
      quietData = true;
      continue;
    }
    if (i + 1 >= argc)
      break;
    const std::string option = argv[i];
    const std::string value = argv[i + 1];
    if (option == "--class")
      className = value;
    if (option == "--pid")
      pid = std::stoi(value);
    if (option == "--hang-ms")
      hangMs = std::stoi(value);
    if (option == "--announce-to")
      announceTo = static_cast<uint32_t>(std::stoul(value));
    if (option == "--exit-after-ms")
      exitAfterMs = std::stoi(value);
    ++i;
  }

  auto desktop = SdBusDesktop::Open(className);
  if (!desktop->Connected()) {
    std::fprintf(stderr, "calvora-test-window: %s; running without controlling programs\n",
                 desktop->ErrorText().c_str());
  }
  calvora::platform::dbus::QtBusPump pump(*desktop);
  calvora::platform::qt::QtTimers timers;
  calvora::testing::CodeTableWindow window(*desktop, timers, static_cast<int16_t>(pid));
  Gaps gaps;
  window.onEvent = [&](const std::string& line) {
    gaps.Received();
    if (!quietData || !line.starts_with("data "))
      Say(line);
  };
  Say(desktop->Connected() ? "ready " + std::to_string(desktop->OwnWindow()) : "nobus");

  if (announceTo != 0) {
    const auto sent = desktop->SendMessage(announceTo, calvora::link::WM_WINMSG,
                                           desktop->OwnWindow(), 0x7FFF0000u);
    Say("announced " + std::to_string(sent.status));
  }
  window.SetHangMs(hangMs);
  if (exitAfterMs > 0)
    QTimer::singleShot(exitAfterMs, &app, &QCoreApplication::quit);

  QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
  std::string pending;
  QObject::connect(&input, &QSocketNotifier::activated, [&] {
    char buffer[4096];
    const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
    if (n <= 0) {
      input.setEnabled(false);
      if (exitAfterMs == 0)
        QCoreApplication::quit();  // the test has gone
      return;
    }
    pending.append(buffer, static_cast<std::size_t>(n));
    for (std::size_t eol; (eol = pending.find('\n')) != std::string::npos;) {
      const std::string line = pending.substr(0, eol);
      pending.erase(0, eol + 1);
      RunCommand(line, *desktop, window, gaps);
    }
  });
  const int code = app.exec();
  Say("ended");
  return code;
}
