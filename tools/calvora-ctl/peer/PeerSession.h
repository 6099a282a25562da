#pragma once
// watch, auto and serve: this program as a peer of one utility. It announces itself, prints
// what arrives (watch, auto), answers the verdicts (auto), hands the events and audio blocks
// to the station services and logs the events, until the utility leaves, the user ends it,
// the time is up or the output's reader has gone. Only what the utility itself sends
// counts: the desktop names the sender, whatever wParam claims.
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

class PeerSession {
 public:
  PeerSession(platform::Desktop& desktop, const ControllerHost& host, const CtlOptions& options,
              platform::WindowHandle utility, PeerMode mode);
  PeerSession(const PeerSession&) = delete;
  PeerSession& operator=(const PeerSession&) = delete;

  // Runs the session to its end; the exit status.
  int Run();

 private:
  int OnMessage(const platform::IncomingMessage& message);
  int OnData(const platform::IncomingData& data);
  // An event of the utility or of the checks: stamped, logged and handed to the services;
  // the checks' events are printed too (the utility's are, as its notifications).
  // Stamps the event with the time its message came at, logs, counts and prints it.
  void HandleEvent(StationEvent& event, const Stamp& at);
  // Never waits on the reader of the output; a reader that has gone ends the session.
  void Print(std::string line);
  void SendAndPrint(uint16_t code, uint16_t argument);
  bool Ended() const;

  platform::Desktop& desktop_;
  const ControllerHost& host_;
  const CtlOptions& options_;
  const platform::WindowHandle utility_;
  const bool automatic_;  // auto: starts the work and answers the verdicts
  const bool printing_;   // watch and auto print; serve is quiet
  LineOutput output_;
  // Shared with the station services, whose threads may outlast this session.
  std::shared_ptr<LineOutput> reports_;
  std::unique_ptr<StationServices> station_;
  std::optional<EventLog> log_;
  EventTracker tracker_;
  double left_ = std::numeric_limits<double>::quiet_NaN();  // the last audio block's levels
  double right_ = left_;
  bool utilityLeft_ = false;
  bool outputBroken_ = false;
  uint64_t blocks_ = 0;
  // Commands that auto sends from the main loop, once the utility's send has been answered.
  std::deque<uint16_t> queued_;
};

}  // namespace calvora::ctl
