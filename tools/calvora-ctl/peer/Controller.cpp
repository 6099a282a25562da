#include "Controller.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <optional>

#include "PeerSession.h"
#include "UtilityWindows.h"
#include "events/JsonValues.h"

namespace calvora::ctl {

using platform::SendResult;
using platform::WindowHandle;

namespace {

// {"handle":H,"pid":P}, with null for a program ID that did not come.
std::string HandleJson(WindowHandle handle, std::optional<int32_t> pid) {
  Json line{{"handle", handle}, {"pid", nullptr}};
  if (pid)
    line["pid"] = *pid;
  return line.dump();
}

// How often serve looks for a utility while it has none, and how long after a goodbye it
// watches whether the utility's window goes (it ended) or stays (it dropped this peer).
constexpr int32_t kUtilityPollMs = 1000;

bool PrintLine(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  return std::fflush(stdout) == 0 && !std::ferror(stdout);
}

}  // namespace

void Fail(const std::string& message) {
  std::fprintf(stderr, "calvora-ctl: %s\n", message.c_str());
}

Controller::Controller(platform::Desktop& desktop, const ControllerHost& host,
                       const CtlOptions& options)
    : desktop_(desktop), host_(host), options_(options) {}

int64_t Controller::NowMs() const {
  return host_.nowMs ? host_.nowMs() : SteadyMs();
}

int Controller::Run() {
  if (options_.command == Command::kList)
    return List();
  if (options_.command == Command::kServe)
    return Serve();
  std::string why;
  const WindowHandle utility = Choose(why);
  if (utility == 0) {
    Fail(why);
    return kExitNoUtility;
  }
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
    default:
      return kExitUsage;
  }
}

WindowHandle Controller::Choose(std::string& why) {
  const std::vector<WindowHandle> running = RunningUtilities(desktop_);
  auto list = [](const std::vector<WindowHandle>& handles) {
    std::string text;
    for (WindowHandle h : handles)
      text += (text.empty() ? "" : ", ") + std::to_string(h);
    return text;
  };
  if (options_.handle) {
    if (std::find(running.begin(), running.end(), *options_.handle) == running.end()) {
      why = "no Calvora Audio Mixer window has the handle " + std::to_string(*options_.handle) +
            (running.empty() ? " (none is running)" : " (running: " + list(running) + ")");
      return 0;
    }
    return *options_.handle;
  }
  std::vector<WindowHandle> candidates = running;
  if (options_.pid) {
    std::erase_if(candidates, [this](WindowHandle h) {
      const SendResult sent = SendCommand(desktop_, h, link::WINMSG_CONTROL, link::CTRL_IDENTIFY);
      return sent.status != platform::result::kOk || sent.answer != *options_.pid;
    });
  }
  const std::string which =
      options_.pid ? " answers the program ID " + std::to_string(*options_.pid) : " is running";
  if (candidates.empty()) {
    why = "no Calvora Audio Mixer" + which + " " + host_.where;
    return 0;
  }
  if (candidates.size() > 1) {
    const std::string many = options_.pid
                                 ? " answer the program ID " + std::to_string(*options_.pid)
                                 : std::string(" are running");
    why = std::to_string(candidates.size()) + " Calvora Audio Mixers" + many + " (handles " +
          list(candidates) + "); choose one with --handle";
    return 0;
  }
  return candidates.front();
}

int Controller::List() {
  for (WindowHandle h : RunningUtilities(desktop_)) {
    const SendResult sent = SendCommand(desktop_, h, link::WINMSG_CONTROL, link::CTRL_IDENTIFY);
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
  const SendResult sent = SendCommand(desktop_, utility, link::WINMSG_CONTROL, link::CTRL_IDENTIFY);
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
  const SendResult sent = SendCommand(desktop_, utility, code, argument);
  if (sent.status != platform::result::kOk) {
    Fail(DescribeFailure(sent));
    return kExitNoAnswer;
  }
  return kExitOk;
}

int64_t Controller::DurationEnd() const {
  if (options_.durationSeconds <= 0)
    return -1;
  return NowMs() + static_cast<int64_t>(options_.durationSeconds * 1000.0);
}

int Controller::MakeServices(WindowHandle utility, PeerServices& services) {
  if (host_.report) {
    services.report = host_.report;
  } else {
    // Shared with the station services, whose threads may outlast the sessions.
    auto reports = std::make_shared<LineOutput>(STDERR_FILENO);
    services.report = [reports](std::string line) { reports->Push("calvora-ctl: " + line); };
  }
  int exitCode = kExitOk;
  if (host_.makeStationServices) {
    services.station = host_.makeStationServices(utility, services.report, exitCode);
    if (exitCode != kExitOk)
      return exitCode;
  }
  if (options_.logFolder)
    services.log.emplace(*options_.logFolder, options_.json, services.report);
  return kExitOk;
}

// watch and auto: one peer session, ended with the utility.
int Controller::Watch(WindowHandle utility, PeerMode mode) {
  PeerServices services;
  if (const int exitCode = MakeServices(utility, services); exitCode != kExitOk)
    return exitCode;
  if (services.station)
    services.station->OnUtility(utility);
  PeerSession peer(desktop_, host_, options_, utility, mode, services, DurationEnd());
  return peer.Run();
}

int Controller::Serve() {
  PeerServices services;
  if (const int exitCode = MakeServices(0, services); exitCode != kExitOk)
    return exitCode;
  const auto say = [&services](const std::string& line) {
    services.report(StampNow().iso + " " + line);
  };
  const int64_t endsAt = DurationEnd();
  const auto timeUp = [this, endsAt] { return endsAt >= 0 && NowMs() >= endsAt; };
  std::string waitingFor;  // why there is no utility, as last said
  while (!host_.interrupted() && !timeUp()) {
    if (!host_.connected()) {
      say("the connection to the desktop has gone; serve ends");
      return kExitDesktopGone;
    }
    std::string why;
    const WindowHandle utility = Choose(why);
    if (utility == 0) {
      if (why != waitingFor)
        say(why + "; serving meanwhile, and looking again every second");
      waitingFor = why;
      host_.waitAndProcess(kUtilityPollMs);
      continue;
    }
    waitingFor.clear();
    const std::string which = "the utility (handle " + std::to_string(utility) + ")";
    say("attaching to " + which);
    if (services.station)
      services.station->OnUtility(utility);
    PeerSession peer(desktop_, host_, options_, utility, PeerMode::kServe, services, endsAt);
    peer.Run();
    if (services.station)
      services.station->OnUtility(0);
    const std::string at = " at " + peer.EndedAt().iso;
    switch (peer.End()) {
      case SessionEnd::kGoodbye: {
        // A utility that closes says goodbye and its window goes; one that gave up on this
        // peer says goodbye and stays.
        const int64_t until = NowMs() + kUtilityPollMs;
        bool stays = true;
        while (stays && NowMs() < until && !host_.interrupted()) {
          host_.waitAndProcess(100);
          const auto running = RunningUtilities(desktop_);
          stays = std::find(running.begin(), running.end(), utility) != running.end();
        }
        say(stays ? which + " dropped this peer (goodbye" + at + "); attaching again"
                  : which + " ended (goodbye" + at + ")");
        break;
      }
      case SessionEnd::kGone:
        say(which + " has gone without a goodbye (found" + at + ")");
        break;
      case SessionEnd::kNoAnswer:
        say(which + " did not answer the hello" + at + "; trying again");
        host_.waitAndProcess(kUtilityPollMs);
        break;
      case SessionEnd::kBusGone:
        say("the connection to the desktop has gone" + at + "; serve ends");
        return kExitDesktopGone;
      default:
        break;  // a signal or the time: the loop ends
    }
  }
  return kExitOk;
}

}  // namespace calvora::ctl
