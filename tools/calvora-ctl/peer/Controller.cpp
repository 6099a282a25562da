#include "Controller.h"

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

// The utility the command line means, or 0 after saying why there is none.
WindowHandle Controller::Choose() {
  const std::vector<WindowHandle> running = RunningUtilities(desktop_);
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
      const SendResult sent = SendCommand(desktop_, h, link::WINMSG_CONTROL, link::CTRL_IDENTIFY);
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

// watch, auto and serve: a peer session of its own.
int Controller::Watch(WindowHandle utility, PeerMode mode) {
  PeerSession peer(desktop_, host_, options_, utility, mode);
  return peer.Run();
}

}  // namespace calvora::ctl
