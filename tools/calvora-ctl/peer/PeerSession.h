#pragma once
// watch, auto and serve: this program as a peer of one utility. It announces itself, asks for
// the utility's verdict once admitted, prints what arrives (watch, auto), answers the verdicts
// (auto), hands the events and audio blocks to the station services and logs the events, until
// the utility leaves, the user ends it, the time is up or the output's reader has gone. Only
// what the utility itself sends counts: the desktop names the sender, whatever wParam claims.
#include <cstdint>
#include <deque>
#include <limits>
#include <memory>
#include <optional>
#include <string>

#include "Controller.h"
#include "LineOutput.h"
#include "events/EventLog.h"
#include "events/StationEvents.h"
#include "platform/Desktop.h"

namespace calvora::ctl {

// What the sessions hand their events to; serve keeps them from one utility to the next.
struct PeerServices {
  ReportLine report;  // a line on stderr, from any thread
  std::unique_ptr<StationServices> station;
  std::optional<EventLog> log;
};

// Why a session ended.
enum class SessionEnd {
  kInterrupted,  // the user ended this program
  kTimeUp,       // --duration
  kOutputGone,   // the reader of the output has gone
  kGoodbye,      // the utility said goodbye: it ended, or it dropped this peer
  kGone,         // the utility's window went without a goodbye
  kNoAnswer,     // the hello was not answered
  kBusGone,      // the desktop carries no more messages
};

class PeerSession {
 public:
  // endsAtMs: the millisecond of the host's clock at which --duration is up; none if
  // negative.
  PeerSession(platform::Desktop& desktop, const ControllerHost& host, const CtlOptions& options,
              platform::WindowHandle utility, PeerMode mode, PeerServices& services,
              int64_t endsAtMs = -1);
  PeerSession(const PeerSession&) = delete;
  PeerSession& operator=(const PeerSession&) = delete;

  // Runs the session to its end; the exit status of watch and auto.
  int Run();
  SessionEnd End() const { return end_; }
  // When the session ended, as the log says it.
  const Stamp& EndedAt() const { return endedAt_; }

 private:
  int OnMessage(const platform::IncomingMessage& message);
  int OnData(const platform::IncomingData& data);
  // Asks the utility for its verdict and hands on what it answered; the answer.
  int32_t AskVerdict();
  // An event of the utility or of the checks: stamped, logged and handed to the services;
  // the checks' events are printed too (the utility's are, as its notifications).
  void HandleEvent(StationEvent& event, const Stamp& at);
  // Never waits on the reader of the output; a reader that has gone ends the session.
  void Print(std::string line);
  int32_t SendAndPrint(uint16_t code, uint16_t argument);
  bool Ended() const;
  int64_t NowMs() const;

  platform::Desktop& desktop_;
  const ControllerHost& host_;
  const CtlOptions& options_;
  const platform::WindowHandle utility_;
  const bool automatic_;  // auto: starts the work and answers the verdicts
  const bool printing_;   // watch and auto print; serve is quiet
  const int64_t endsAtMs_;
  LineOutput output_;
  StationServices* const station_;
  std::optional<EventLog>& log_;
  EventTracker tracker_;
  double left_ = std::numeric_limits<double>::quiet_NaN();  // the last audio block's levels
  double right_ = left_;
  bool utilityLeft_ = false;
  bool outputBroken_ = false;
  uint64_t blocks_ = 0;
  SessionEnd end_ = SessionEnd::kInterrupted;
  Stamp endedAt_;
  // Commands sent from the main loop, once the utility's send has been answered: auto's answers
  // to the verdicts, and the verdict question again when the card comes online.
  std::deque<uint16_t> queued_;
};

// The steady clock in milliseconds, as the sessions' deadlines are given.
int64_t SteadyMs();

}  // namespace calvora::ctl
