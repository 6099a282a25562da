// calvora-ctl: a controlling program for Calvora Audio Mixer on the command line. It talks to
// the utility's window over the session bus exactly as any controlling program does.
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <deque>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ActionRunner.h"
#include "CtlOptions.h"
#include "EventLines.h"
#include "EventLog.h"
#include "JsonValues.h"
#include "LineOutput.h"
#include "MetricsServer.h"
#include "StationEvents.h"
#include "StationMonitor.h"
#include "link/WinMSG.h"
#include "platform/dbus/SdBusDesktop.h"

namespace calvora::ctl {
namespace {

using platform::SendResult;
using platform::WindowHandle;
using platform::dbus::SdBusDesktop;

constexpr const char* kUtilityClass = "TCV_AudioMixer";
constexpr const char* kOwnClass = "CalvoraCtl";

enum Exit { kExitOk = 0, kExitUsage = 1, kExitNoUtility = 2, kExitNoAnswer = 3, kExitListen = 4 };

// How long auto waits after its hello before it starts the work: two of the utility's
// 100 ms scans, one of which admits the new peer.
constexpr int64_t kAdmissionMs = 250;

// How a peer started by watch, auto or serve behaves.
enum class PeerMode { kWatch, kAuto, kServe };

std::string LevelText(double db) {
  if (!std::isfinite(db))
    return "";
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", db);
  return text;
}

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

int64_t NowMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void Fail(const std::string& message) {
  std::fprintf(stderr, "calvora-ctl: %s\n", message.c_str());
}

// {"handle":H,"pid":P}, with null for a program ID that did not come.
std::string HandleJson(WindowHandle handle, std::optional<int32_t> pid) {
  Json line{{"handle", handle}, {"pid", nullptr}};
  if (pid)
    line["pid"] = *pid;
  return line.dump();
}

bool PrintLine(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  return std::fflush(stdout) == 0 && !std::ferror(stdout);
}

std::string DescribeFailure(const SendResult& sent) {
  switch (sent.status) {
    case platform::result::kTimeout:
      return "the utility did not answer within 1000 ms";
    case platform::result::kInvalidHandle:
      return "the utility's window no longer exists";
    case platform::result::kNotSupported:
      return "that window does not take window messages";
    default:
      return "the message could not be sent";
  }
}

class Controller {
 public:
  Controller(SdBusDesktop& desktop, const CtlOptions& options)
      : desktop_(desktop), options_(options) {}

  SendResult Send(WindowHandle target, uint16_t code, uint16_t argument) {
    return desktop_.SendMessage(target, link::WM_WINMSG, desktop_.OwnWindow(),
                                link::TWinMSG::EncodeCommand(code, argument));
  }

  std::vector<WindowHandle> Utilities() {
    std::vector<WindowHandle> handles;
    for (const auto& window : desktop_.EnumWindows()) {
      if (window.className == kUtilityClass)
        handles.push_back(window.handle);
    }
    std::sort(handles.begin(), handles.end());
    return handles;
  }

  // The utility the command line means, or 0 after saying why there is none.
  WindowHandle Choose() {
    const std::vector<WindowHandle> running = Utilities();
    auto list = [](const std::vector<WindowHandle>& handles) {
      std::string text;
      for (WindowHandle h : handles)
        text += (text.empty() ? "" : ", ") + std::to_string(h);
      return text;
    };
    if (options_.handle) {
      if (std::find(running.begin(), running.end(), *options_.handle) == running.end()) {
        Fail("no Calvora Audio Mixer window has the handle " + std::to_string(*options_.handle) +
             (running.empty() ? " (none is running)" : " (running: " + list(running) + ")"));
        return 0;
      }
      return *options_.handle;
    }
    std::vector<WindowHandle> candidates = running;
    if (options_.pid) {
      std::erase_if(candidates, [this](WindowHandle h) {
        const SendResult sent = Send(h, link::WINMSG_CONTROL, link::CTRL_IDENTIFY);
        return sent.status != platform::result::kOk || sent.answer != *options_.pid;
      });
    }
    const std::string which =
        options_.pid ? " answers the program ID " + std::to_string(*options_.pid) : " is running";
    if (candidates.empty()) {
      Fail("no Calvora Audio Mixer" + which + " on this session bus");
      return 0;
    }
    if (candidates.size() > 1) {
      const std::string many = options_.pid
                                   ? " answer the program ID " + std::to_string(*options_.pid)
                                   : std::string(" are running");
      Fail(std::to_string(candidates.size()) + " Calvora Audio Mixers" + many + " (handles " +
           list(candidates) + "); choose one with --handle");
      return 0;
    }
    return candidates.front();
  }

  int List() {
    for (WindowHandle h : Utilities()) {
      const SendResult sent = Send(h, link::WINMSG_CONTROL, link::CTRL_IDENTIFY);
      const auto pid =
          sent.status == platform::result::kOk ? std::optional(sent.answer) : std::nullopt;
      if (options_.json)
        PrintLine(HandleJson(h, pid));
      else
        PrintLine(std::to_string(h) + "\t" + (pid ? std::to_string(*pid) : "?"));
    }
    return kExitOk;
  }

  int Identify(WindowHandle utility) {
    const SendResult sent = Send(utility, link::WINMSG_CONTROL, link::CTRL_IDENTIFY);
    if (sent.status != platform::result::kOk) {
      Fail(DescribeFailure(sent));
      return kExitNoAnswer;
    }
    if (options_.json)
      PrintLine(HandleJson(utility, sent.answer));
    else
      PrintLine(std::to_string(sent.answer));
    if (sent.answer == 0)
      Fail("note: 0 means the utility's interactive mode is off");
    return kExitOk;
  }

  int Command(WindowHandle utility, uint16_t code, uint16_t argument) {
    const SendResult sent = Send(utility, code, argument);
    if (sent.status != platform::result::kOk) {
      Fail(DescribeFailure(sent));
      return kExitNoAnswer;
    }
    return kExitOk;
  }

  // watch, auto and serve: announce, print what arrives (watch, auto), answer the verdicts
  // (auto), run the commands of the events, log them and serve the metrics. Only what the
  // utility's own connection sends counts: anyone on the bus can put the utility's handle in
  // wParam, but not send from its connection.
  int Watch(WindowHandle utility, PeerMode mode) {
    const bool automatic = mode == PeerMode::kAuto;
    const bool printing = mode != PeerMode::kServe;
    LineOutput output(STDOUT_FILENO);
    // Shared with the command runners, whose threads may outlast this call.
    auto reports = std::make_shared<LineOutput>(STDERR_FILENO);
    output_ = printing ? &output : nullptr;
    auto report = [reports](std::string line) { reports->Push("calvora-ctl: " + line); };

    std::unique_ptr<StationMonitor> monitor;
    std::unique_ptr<MetricsServer> server;
    if (options_.listen) {
      monitor = std::make_unique<StationMonitor>();
      server = std::make_unique<MetricsServer>(*monitor);
      const int port = server->Start(*options_.listen);
      if (port < 0) {
        Fail("cannot listen on " + options_.listen->host + ":" +
             std::to_string(options_.listen->port) + " (in use, or not an address of this host)");
        return kExitListen;
      }
      const std::string& host = options_.listen->host;
      const bool v6 = host.find(':') != std::string::npos;
      report("serving http://" + (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port) +
             "/metrics and /status");
    }
    std::array<std::unique_ptr<ActionRunner>, 4> runners;
    for (std::size_t i = 0; i < runners.size(); ++i) {
      if (!options_.actions[i].empty()) {
        runners[i] = std::make_unique<ActionRunner>(
            ActionOption(static_cast<EventKind>(i)).substr(2), options_.actions[i], report);
      }
    }
    std::optional<EventLog> log;
    if (options_.logFolder)
      log.emplace(*options_.logFolder, options_.json, report);
    EventTracker tracker;
    double left = std::numeric_limits<double>::quiet_NaN();  // the last audio block's levels
    double right = left;

    auto onEvent = [&](StationEvent event) {
      StampNow(event);
      event.left = left;
      event.right = right;
      if (log)
        log->Write(event);
      if (monitor)
        monitor->OnEvent(event);
      if (auto& runner = runners[static_cast<std::size_t>(event.kind)]) {
        runner->Trigger({std::string("CALVORA_EVENT=") + EventName(event.kind),
                         std::string("CALVORA_DEVICE=") + DeviceName(event.device),
                         "CALVORA_TIME=" + event.time, "CALVORA_LEFT_DB=" + LevelText(left),
                         "CALVORA_RIGHT_DB=" + LevelText(right),
                         "CALVORA_HANDLE=" + std::to_string(utility)});
      }
    };
    desktop_.SetMessageHandler([&](const platform::IncomingMessage& m) {
      if (m.message != link::WM_WINMSG || desktop_.MessageSender() != utility)
        return 0;
      uint16_t code = 0;
      uint16_t argument = 0;
      link::TWinMSG::DecodeCommand(m.lParam, code, argument);
      if (printing)
        Print(NotificationLine(Stamp::Now(), m.wParam, code, argument, options_.json));
      const bool bye = code == link::WINMSG_CONTROL && argument != link::CTRL_HELLO &&
                       argument != link::CTRL_IDENTIFY;
      if (bye)
        utilityLeft_ = true;
      if (auto event = tracker.Notice(code, argument))
        onEvent(std::move(*event));
      // Commands go out after this call has been answered, from the main loop, so the
      // utility is not asked to act while it is still inside its own send.
      if (automatic && code == link::NTF_SILENCE)
        queued_.push_back(link::CMD_MUTE);
      if (automatic && code == link::NTF_SOUND)
        queued_.push_back(link::CMD_UNMUTE);
      return 0;
    });
    desktop_.SetDataHandler([&](const platform::IncomingData& d) {
      if (desktop_.MessageSender() != utility)
        return 0;
      const auto header = d.kind == 0 ? link::AudioBlockHeader::Read(d.bytes) : std::nullopt;
      if (header) {
        left = header->LeftLevel;
        right = header->RightLevel;
        if (monitor) {
          monitor->OnAudio(header->SampleRate, header->Channels, left, right,
                           std::span(d.bytes).subspan(link::AudioBlockHeader::kSize));
        }
      }
      if (printing && (!header || blocks_++ % options_.levelsEvery == 0))
        Print(DataLine(Stamp::Now(), d.wParam, d.kind, d.bytes, options_.json));
      return 0;
    });

    const SendResult hello = Send(utility, link::WINMSG_CONTROL, link::CTRL_HELLO);
    if (hello.status != platform::result::kOk) {
      Fail(DescribeFailure(hello));
      return kExitNoAnswer;
    }
    const int64_t started = NowMs();
    int64_t lastCheck = started;
    int exitCode = kExitOk;
    // auto starts the work once the utility has admitted this peer, which its 100 ms scan
    // does, so that the sound card's online notice reaches it.
    bool startPending = automatic;
    while (!interrupted && !utilityLeft_ && !outputBroken_ && !output.Broken()) {
      const int64_t untilStart = started + kAdmissionMs - NowMs();
      desktop_.WaitAndProcess(
          startPending ? static_cast<int32_t>(std::clamp<int64_t>(untilStart, 0, 200)) : 200);
      if (startPending && NowMs() >= started + kAdmissionMs) {
        startPending = false;
        SendAndPrint(utility, link::CMD_RUN, link::RUN_RESTORE);
      }
      while (!queued_.empty() && !outputBroken_) {
        const uint16_t code = queued_.front();
        queued_.pop_front();
        SendAndPrint(utility, code, 0);
      }
      const int64_t now = NowMs();
      if (options_.durationSeconds > 0 &&
          static_cast<double>(now - started) >= options_.durationSeconds * 1000.0)
        break;
      if (now - lastCheck >= 1000) {  // a utility that ended without a goodbye
        lastCheck = now;
        const auto running = Utilities();
        if (!desktop_.Connected() ||
            std::find(running.begin(), running.end(), utility) == running.end()) {
          Fail("the utility's window has gone");
          exitCode = kExitNoAnswer;
          break;
        }
      }
    }
    if (!utilityLeft_ && exitCode == kExitOk)
      Send(utility, link::WINMSG_CONTROL, link::CTRL_BYE);
    desktop_.SetMessageHandler(nullptr);
    desktop_.SetDataHandler(nullptr);
    output_ = nullptr;
    return exitCode;
  }

 private:
  // Never waits on the reader of the output; a reader that has gone ends watch.
  void Print(std::string line) {
    if (!output_)
      return;
    output_->Push(std::move(line));
    if (output_->Broken())
      outputBroken_ = true;
  }

  void SendAndPrint(WindowHandle utility, uint16_t code, uint16_t argument) {
    const SendResult sent = Send(utility, code, argument);
    Print(SentLine(Stamp::Now(), code, argument, sent.answer, options_.json));
    if (sent.status != platform::result::kOk)
      Fail(DescribeFailure(sent));
  }

  SdBusDesktop& desktop_;
  const CtlOptions& options_;
  bool utilityLeft_ = false;
  bool outputBroken_ = false;
  LineOutput* output_ = nullptr;  // while watching
  uint64_t blocks_ = 0;
  std::deque<uint16_t> queued_;
};

int Run(const CtlOptions& options) {
  if (options.command == Command::kHelp) {
    std::fputs(UsageText(), stdout);
    return kExitOk;
  }
  InstallSignals();
  auto desktop = SdBusDesktop::Open(kOwnClass);
  if (!desktop->Connected()) {
    Fail(desktop->ErrorText() +
         " (is DBUS_SESSION_BUS_ADDRESS set, or $XDG_RUNTIME_DIR/bus there?)");
    return kExitNoUtility;
  }
  Controller controller(*desktop, options);
  if (options.command == Command::kList)
    return controller.List();

  const WindowHandle utility = controller.Choose();
  if (utility == 0)
    return kExitNoUtility;
  switch (options.command) {
    case Command::kIdentify:
      return controller.Identify(utility);
    case Command::kRun:
      return controller.Command(utility, link::CMD_RUN, options.restore ? link::RUN_RESTORE : 0);
    case Command::kStop:
      return controller.Command(utility, link::CMD_STOP, options.mute ? link::STOP_MUTE : 0);
    case Command::kMute:
      return controller.Command(utility, link::CMD_MUTE, 0);
    case Command::kUnmute:
      return controller.Command(utility, link::CMD_UNMUTE, 0);
    case Command::kBye:
      return controller.Command(utility, link::WINMSG_CONTROL, link::CTRL_BYE);
    case Command::kWatch:
      return controller.Watch(utility, PeerMode::kWatch);
    case Command::kAuto:
      return controller.Watch(utility, PeerMode::kAuto);
    case Command::kServe:
      return controller.Watch(utility, PeerMode::kServe);
    default:
      return kExitUsage;
  }
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
