#pragma once
// What watch, auto and serve hand a station's services: each event, and each audio block as
// received. The peer owns them; the command line's entry builds them from the options.
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "StationEvents.h"
#include "link/WinMSG.h"
#include "platform/Desktop.h"

namespace calvora::ctl {

// What watch, auto and serve do for a station beyond printing: commands run on events and
// metrics served. Both are fed from the thread that answers the utility, so they never wait.
// A line to report, from any thread.
using ReportLine = std::function<void(std::string line)>;

class StationServices {
 public:
  virtual ~StationServices() = default;
  // Adds what the services keep of an event before it is logged and handed on (its clip).
  virtual void Prepare(StationEvent&) {}
  virtual void OnEvent(const StationEvent& event) = 0;
  // An audio block's header and its samples as received; the events of the checks the block
  // ended, which the controller stamps, prints, logs and hands back through OnEvent.
  virtual std::vector<StationEvent> OnAudio(const link::AudioBlockHeader& header,
                                            std::span<const uint8_t> samples) = 0;
  // The utility this peer is attached to; 0 once it has gone (serve keeps its services from one
  // utility to the next).
  virtual void OnUtility(platform::WindowHandle) {}
  // What the utility answered when asked for its verdict: silent or not, or nothing when it
  // could not say (work stopped, card not capturing, a utility that does not know the question).
  virtual void OnVerdict(std::optional<bool>) {}
};

}  // namespace calvora::ctl
