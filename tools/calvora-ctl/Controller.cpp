#include "Controller.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>
#include <utility>

#include "EventLines.h"
#include "EventLog.h"
#include "JsonValues.h"
#include "LineOutput.h"

namespace calvora::ctl {

using platform::SendResult;
using platform::WindowHandle;

namespace {

// How long auto waits after its hello before it starts the work: two of the utility's
// 100 ms scans, one of which admits the new peer.
constexpr int64_t kAdmissionMs = 250;

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
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

}  // namespace

void Fail(const std::string& message) {
  std::fprintf(stderr, "calvora-ctl: %s\n", message.c_str());
}

Controller::Controller(platform::Desktop& desktop, const ControllerHost& host,
                       const CtlOptions& options)
    : desktop_(desktop), host_(host), options_(options) {}

int Controller::Run() {
  if (options_.command == Command::kList)
    return List();
  const WindowHandle utility = Choose();
  if (utility == 0)
    return kExitNoUtility;
  switch (options_.command) {
    case Command::kIdentify:
      return Identify(utility);
    case Command::kRun:
      return Command(utility, link::CMD_RUN, options_.restore ? link::RUN_RESTORE : 0);
    case Command::kStop:
      return Command(utility, link::CMD_STOP, options_.mute ? link::STOP_MUTE : 0);
    case Command::kMute:
      return Command(utility, link::CMD_MUTE, 0);
    case Command::kUnmute:
      return Command(utility, link::CMD_UNMUTE, 0);
    case Command::kBye:
      return Command(utility, link::WINMSG_CONTROL, link::CTRL_BYE);
    case Command::kWatch:
      return Watch(utility, PeerMode::kWatch);
    case Command::kAuto:
      return Watch(utility, PeerMode::kAuto);
    case Command::kServe:
      return Watch(utility, PeerMode::kServe);
    default:
      return kExitUsage;
  }
}

SendResult Controller::Send(WindowHandle target, uint16_t code, uint16_t argument) {
  return desktop_.SendMessage(target, link::WM_WINMSG, desktop_.OwnWindow(),
                              link::TWinMSG::EncodeCommand(code, argument));
}

std::vector<WindowHandle> Controller::Utilities() {
  std::vector<WindowHandle> handles;
  for (const auto& window : desktop_.EnumWindows()) {
    if (window.className == kUtilityClass)
      handles.push_back(window.handle);
  }
  std::sort(handles.begin(), handles.end());
  return handles;
}

// The utility the command line means, or 0 after saying why there is none.
WindowHandle Controller::Choose() {
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
    Fail("no Calvora Audio Mixer" + which + " " + host_.where);
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

int Controller::List() {
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

int Controller::Identify(WindowHandle utility) {
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

int Controller::Command(WindowHandle utility, uint16_t code, uint16_t argument) {
  const SendResult sent = Send(utility, code, argument);
  if (sent.status != platform::result::kOk) {
    Fail(DescribeFailure(sent));
    return kExitNoAnswer;
  }
  return kExitOk;
}

// watch, auto and serve: announce, print what arrives (watch, auto), answer the verdicts
// (auto), hand the events and blocks to the station services and log the events. Only what
// the utility itself sends counts: the desktop names the sender, whatever wParam claims.
int Controller::Watch(WindowHandle utility, PeerMode mode) {
  const bool automatic = mode == PeerMode::kAuto;
  const bool printing = mode != PeerMode::kServe;
  LineOutput output(STDOUT_FILENO);
  // Shared with the station services, whose threads may outlast this call.
  auto reports = std::make_shared<LineOutput>(STDERR_FILENO);
  output_ = printing ? &output : nullptr;
  auto report = [reports](std::string line) { reports->Push("calvora-ctl: " + line); };

  int exitCode = kExitOk;
  std::unique_ptr<StationServices> station;
  if (host_.makeStationServices) {
    station = host_.makeStationServices(utility, report, exitCode);
    if (exitCode != kExitOk)
      return exitCode;
  }
  std::optional<EventLog> log;
  if (options_.logFolder)
    log.emplace(*options_.logFolder, options_.json, report);
  EventTracker tracker;
  double left = std::numeric_limits<double>::quiet_NaN();  // the last audio block's levels
  double right = left;
  // An event of the utility or of the checks: stamped, logged and handed to the services;
  // the checks' events are printed too (the utility's are, as its notifications).
  auto handleEvent = [&](StationEvent& event) {
    StampNow(event);
    event.left = left;
    event.right = right;
    if (log)
      log->Write(event);
    if (station)
      station->OnEvent(event);
    if (printing && IsCheckEvent(event.kind))
      Print(CheckEventLine(Stamp::Now(), event, options_.json));
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
      handleEvent(*event);
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
      if (station) {
        for (auto& event :
             station->OnAudio(*header, d.bytes.subspan(link::AudioBlockHeader::kSize)))
          handleEvent(event);
      }
    }
    if (printing && (!header || blocks_++ % options_.levelsEvery == 0))
      Print(DataLine(Stamp::Now(), d.wParam, d.kind, d.bytes, options_.json));
    return 0;
  });

  const SendResult hello = Send(utility, link::WINMSG_CONTROL, link::CTRL_HELLO);
  if (hello.status != platform::result::kOk) {
    Fail(DescribeFailure(hello));
    exitCode = kExitNoAnswer;
  }
  const int64_t started = NowMs();
  int64_t lastCheck = started;
  // auto starts the work once the utility has admitted this peer, which its 100 ms scan
  // does, so that the sound card's online notice reaches it.
  bool startPending = automatic;
  while (exitCode == kExitOk && !host_.interrupted() && !utilityLeft_ && !outputBroken_ &&
         !output.Broken()) {
    const int64_t untilStart = started + kAdmissionMs - NowMs();
    host_.waitAndProcess(
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
      if (!host_.connected() ||
          std::find(running.begin(), running.end(), utility) == running.end()) {
        Fail("the utility's window has gone");
        exitCode = kExitNoAnswer;
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

// Never waits on the reader of the output; a reader that has gone ends watch.
void Controller::Print(std::string line) {
  if (!output_)
    return;
  output_->Push(std::move(line));
  if (output_->Broken())
    outputBroken_ = true;
}

void Controller::SendAndPrint(WindowHandle utility, uint16_t code, uint16_t argument) {
  const SendResult sent = Send(utility, code, argument);
  Print(SentLine(Stamp::Now(), code, argument, sent.answer, options_.json));
  if (sent.status != platform::result::kOk)
    Fail(DescribeFailure(sent));
}

}  // namespace calvora::ctl
