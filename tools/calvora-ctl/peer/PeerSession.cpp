#include "PeerSession.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <utility>

#include "UtilityWindows.h"
#include "events/EventLines.h"
#include "link/WinMSG.h"

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

}  // namespace

PeerSession::PeerSession(platform::Desktop& desktop, const ControllerHost& host,
                         const CtlOptions& options, WindowHandle utility, PeerMode mode)
    : desktop_(desktop),
      host_(host),
      options_(options),
      utility_(utility),
      automatic_(mode == PeerMode::kAuto),
      printing_(mode != PeerMode::kServe),
      output_(STDOUT_FILENO),
      reports_(std::make_shared<LineOutput>(STDERR_FILENO)) {}

int PeerSession::Run() {
  auto report = [reports = reports_](std::string line) { reports->Push("calvora-ctl: " + line); };
  int exitCode = kExitOk;
  if (host_.makeStationServices) {
    station_ = host_.makeStationServices(utility_, report, exitCode);
    if (exitCode != kExitOk)
      return exitCode;
  }
  if (options_.logFolder)
    log_.emplace(*options_.logFolder, options_.json, report);

  desktop_.SetMessageHandler([this](const platform::IncomingMessage& m) { return OnMessage(m); });
  desktop_.SetDataHandler([this](const platform::IncomingData& d) { return OnData(d); });

  const SendResult hello = SendCommand(desktop_, utility_, link::WINMSG_CONTROL, link::CTRL_HELLO);
  if (hello.status != platform::result::kOk) {
    Fail(DescribeFailure(hello));
    exitCode = kExitNoAnswer;
  }
  const int64_t started = NowMs();
  int64_t lastCheck = started;
  // auto starts the work once the utility has admitted this peer, which its 100 ms scan
  // does, so that the sound card's online notice reaches it.
  bool startPending = automatic_;
  while (exitCode == kExitOk && !Ended()) {
    const int64_t untilStart = started + kAdmissionMs - NowMs();
    host_.waitAndProcess(
        startPending ? static_cast<int32_t>(std::clamp<int64_t>(untilStart, 0, 200)) : 200);
    if (startPending && NowMs() >= started + kAdmissionMs) {
      startPending = false;
      SendAndPrint(link::CMD_RUN, link::RUN_RESTORE);
    }
    while (!queued_.empty() && !outputBroken_) {
      const uint16_t code = queued_.front();
      queued_.pop_front();
      SendAndPrint(code, 0);
    }
    const int64_t now = NowMs();
    if (options_.durationSeconds > 0 &&
        static_cast<double>(now - started) >= options_.durationSeconds * 1000.0)
      break;
    if (now - lastCheck >= 1000) {  // a utility that ended without a goodbye
      lastCheck = now;
      const auto running = RunningUtilities(desktop_);
      if (!host_.connected() ||
          std::find(running.begin(), running.end(), utility_) == running.end()) {
        Fail("the utility's window has gone");
        exitCode = kExitNoAnswer;
      }
    }
  }
  if (!utilityLeft_ && exitCode == kExitOk)
    SendCommand(desktop_, utility_, link::WINMSG_CONTROL, link::CTRL_BYE);
  desktop_.SetMessageHandler(nullptr);
  desktop_.SetDataHandler(nullptr);
  return exitCode;
}

bool PeerSession::Ended() const {
  return host_.interrupted() || utilityLeft_ || outputBroken_ || output_.Broken();
}

int PeerSession::OnMessage(const platform::IncomingMessage& m) {
  if (m.message != link::WM_WINMSG || desktop_.MessageSender() != utility_)
    return 0;
  uint16_t code = 0;
  uint16_t argument = 0;
  link::TWinMSG::DecodeCommand(m.lParam, code, argument);
  const Stamp at = StampNow();  // the notification's line and its event alike
  if (printing_)
    Print(NotificationLine(at, m.wParam, code, argument, options_.json));
  const bool bye = code == link::WINMSG_CONTROL && argument != link::CTRL_HELLO &&
                   argument != link::CTRL_IDENTIFY;
  if (bye)
    utilityLeft_ = true;
  if (auto event = tracker_.Notice(code, argument))
    HandleEvent(*event, at);
  // Commands go out after this call has been answered, from the main loop, so the
  // utility is not asked to act while it is still inside its own send.
  if (automatic_ && code == link::NTF_SILENCE)
    queued_.push_back(link::CMD_MUTE);
  if (automatic_ && code == link::NTF_SOUND)
    queued_.push_back(link::CMD_UNMUTE);
  return 0;
}

int PeerSession::OnData(const platform::IncomingData& d) {
  if (desktop_.MessageSender() != utility_)
    return 0;
  // One reading of the clock for the block's line and the checks' events it makes, written
  // out only when one of them is: most blocks are neither printed nor an event.
  const auto now = std::chrono::system_clock::now();
  std::optional<Stamp> written;
  const auto at = [&]() -> const Stamp& {
    if (!written)
      written = StampOf(LocalTimeAt(now));
    return *written;
  };
  const auto header = d.kind == 0 ? link::AudioBlockHeader::Read(d.bytes) : std::nullopt;
  if (header) {
    left_ = header->LeftLevel;
    right_ = header->RightLevel;
    if (station_)
      for (auto& event : station_->OnAudio(*header, d.bytes.subspan(link::AudioBlockHeader::kSize)))
        HandleEvent(event, at());
  }
  if (printing_ && (!header || blocks_++ % options_.levelsEvery == 0))
    Print(DataLine(at(), d.wParam, d.kind, d.bytes, options_.json));
  return 0;
}

void PeerSession::HandleEvent(StationEvent& event, const Stamp& at) {
  event.at = at;
  event.left = left_;
  event.right = right_;
  if (station_)
    station_->Prepare(event);
  if (log_)
    log_->Write(event);
  if (station_)
    station_->OnEvent(event);
  if (printing_ && IsCheckEvent(event.kind))
    Print(CheckEventLine(event, options_.json));
}

void PeerSession::Print(std::string line) {
  if (!printing_)
    return;
  output_.Push(std::move(line));
  if (output_.Broken())
    outputBroken_ = true;
}

void PeerSession::SendAndPrint(uint16_t code, uint16_t argument) {
  const SendResult sent = SendCommand(desktop_, utility_, code, argument);
  Print(SentLine(StampNow(), code, argument, sent.answer, options_.json));
  if (sent.status != platform::result::kOk)
    Fail(DescribeFailure(sent));
}

}  // namespace calvora::ctl
