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

// How long the session waits after its hello before it asks for the verdict (and auto starts
// the work): two of the utility's 100 ms scans, one of which admits the new peer, so that no
// notification sent after the answer is missed.
constexpr int64_t kAdmissionMs = 250;

}  // namespace

int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

PeerSession::PeerSession(platform::Desktop& desktop, const ControllerHost& host,
                         const CtlOptions& options, WindowHandle utility, PeerMode mode,
                         PeerServices& services, int64_t endsAtMs)
    : desktop_(desktop),
      host_(host),
      options_(options),
      utility_(utility),
      automatic_(mode == PeerMode::kAuto),
      printing_(mode != PeerMode::kServe),
      endsAtMs_(endsAtMs),
      output_(STDOUT_FILENO),
      station_(services.station.get()),
      log_(services.log) {}

int64_t PeerSession::NowMs() const {
  return host_.nowMs ? host_.nowMs() : SteadyMs();
}

int PeerSession::Run() {
  desktop_.SetMessageHandler([this](const platform::IncomingMessage& m) { return OnMessage(m); });
  desktop_.SetDataHandler([this](const platform::IncomingData& d) { return OnData(d); });

  // serve tells the ends in its own words, with their times.
  const auto fail = [this](const std::string& why) {
    if (printing_)
      Fail(why);
  };
  int exitCode = kExitOk;
  std::optional<SessionEnd> ending;
  const SendResult hello = SendCommand(desktop_, utility_, link::WINMSG_CONTROL, link::CTRL_HELLO);
  if (hello.status != platform::result::kOk) {
    fail(DescribeFailure(hello));
    exitCode = kExitNoAnswer;
    ending = SessionEnd::kNoAnswer;
  }
  const int64_t started = NowMs();
  int64_t lastCheck = started;
  // Once admitted, the session asks for the verdict: the notifications tell only changes.
  bool askPending = true;
  bool helloAgain = true;
  while (!ending && !Ended()) {
    const int64_t untilNext = started + (helloAgain ? kAdmissionMs : 2 * kAdmissionMs) - NowMs();
    host_.waitAndProcess(askPending ? static_cast<int32_t>(std::clamp<int64_t>(untilNext, 0, 200))
                                    : 200);
    if (helloAgain && NowMs() >= started + kAdmissionMs) {
      // A utility that has only just started may not have taken the first hello; a second
      // one is harmless (a peer is admitted once), and the question waits for its scan.
      helloAgain = false;
      SendCommand(desktop_, utility_, link::WINMSG_CONTROL, link::CTRL_HELLO);
    }
    if (askPending && NowMs() >= started + 2 * kAdmissionMs) {
      askPending = false;
      const int32_t verdict = AskVerdict();
      // auto joining a dead air mutes as it does on a silence, and restores nothing; else it
      // starts the work and restores the lines, so that the sound card's online notice and
      // then every verdict reach it.
      if (automatic_ && !outputBroken_) {
        if (verdict == link::VERDICT_SILENCE)
          SendAndPrint(link::CMD_MUTE, 0);
        else
          SendAndPrint(link::CMD_RUN, link::RUN_RESTORE);
      }
    }
    while (!queued_.empty() && !outputBroken_) {
      const uint16_t code = queued_.front();
      queued_.pop_front();
      if (code == link::CMD_VERDICT)
        AskVerdict();
      else
        SendAndPrint(code, 0);
    }
    const int64_t now = NowMs();
    if (endsAtMs_ >= 0 && now >= endsAtMs_) {
      ending = SessionEnd::kTimeUp;
      break;
    }
    if (now - lastCheck >= 1000) {  // a utility that ended without a goodbye
      lastCheck = now;
      if (!host_.connected()) {
        fail("the session bus has gone");
        exitCode = kExitNoAnswer;
        ending = SessionEnd::kBusGone;
      } else if (const auto running = RunningUtilities(desktop_);
                 std::find(running.begin(), running.end(), utility_) == running.end()) {
        fail("the utility's window has gone");
        exitCode = kExitNoAnswer;
        ending = SessionEnd::kGone;
      }
    }
  }
  if (!ending) {
    if (utilityLeft_)
      ending = SessionEnd::kGoodbye;
    else if (outputBroken_ || output_.Broken())
      ending = SessionEnd::kOutputGone;
    else
      ending = SessionEnd::kInterrupted;
  }
  end_ = *ending;
  if (end_ != SessionEnd::kGoodbye)
    endedAt_ = StampNow();
  if (!utilityLeft_ && exitCode == kExitOk)
    SendCommand(desktop_, utility_, link::WINMSG_CONTROL, link::CTRL_BYE);
  desktop_.SetMessageHandler(nullptr);
  desktop_.SetDataHandler(nullptr);
  return exitCode;
}

bool PeerSession::Ended() const {
  return host_.interrupted() || utilityLeft_ || outputBroken_ || output_.Broken();
}

int32_t PeerSession::AskVerdict() {
  const int32_t answer = SendAndPrint(link::CMD_VERDICT, 0);
  // 0 (a utility that does not know the question) tells nothing, and takes back nothing a
  // notification told.
  if (answer < link::VERDICT_SOUND || answer > link::VERDICT_NO_DETECTION)
    return answer;
  const std::optional<bool> silent = SilentFromVerdict(answer);
  tracker_.Learn(silent);
  if (station_)
    station_->OnVerdict(silent);
  return answer;
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
  if (bye && !utilityLeft_) {
    utilityLeft_ = true;
    endedAt_ = at;
  }
  if (auto event = tracker_.Notice(code, argument))
    HandleEvent(*event, at);
  // A capture that starts looks for silence afresh: what the air is now is asked again.
  if (code == link::NTF_ONLINE && argument == link::DEV_CARD)
    queued_.push_back(link::CMD_VERDICT);
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

int32_t PeerSession::SendAndPrint(uint16_t code, uint16_t argument) {
  const SendResult sent = SendCommand(desktop_, utility_, code, argument);
  const int32_t answer = sent.status == platform::result::kOk ? sent.answer : 0;
  Print(SentLine(StampNow(), code, argument, answer, options_.json));
  if (sent.status != platform::result::kOk && printing_)
    Fail(DescribeFailure(sent));
  return answer;
}

}  // namespace calvora::ctl
