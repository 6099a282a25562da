#pragma once
// The station's state at one moment, as StationMonitor keeps it: what the metrics, /status and
// the live page are written from. A value not known yet is an empty optional (device states,
// the last verdict, the last block) or a NaN reading (AudioReadings' kNoReading).
#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>

#include "AudioAnalyser.h"
#include "events/StationEvents.h"

namespace calvora::ctl {

struct StationSnapshot {
  using Clock = std::chrono::system_clock;

  struct Verdict {
    EventKind kind = EventKind::kSilence;  // silence or sound
    std::string time;                      // as the event was stamped
    Clock::time_point at;
  };
  struct AudioBlock {
    double leftDb = kNoReading;  // the peak levels the block's header carries
    double rightDb = kNoReading;
    int32_t sampleRate = 0;
    Clock::time_point at;
  };

  std::string station;  // the station label's value; empty for none
  // Attached to a running utility (serve goes on serving while there is none).
  bool utilityUp = false;
  // The utility's verdict: silence (true), sound (false), or not known (no utility, not asked
  // yet, the work stopped or the card not capturing).
  std::optional<bool> silent;
  std::optional<Verdict> lastVerdict;
  // Online (true), offline (false) or not reported yet, by Device.
  std::array<std::optional<bool>, 2> online;
  std::optional<AudioBlock> lastBlock;
  uint64_t audioBlocks = 0;
  std::array<uint64_t, kEventKindCount> eventCounts{};
  AudioReadings readings;
  std::deque<StationEvent> recentEvents;  // newest first

  uint64_t Count(EventKind kind) const { return eventCounts[static_cast<std::size_t>(kind)]; }
};

}  // namespace calvora::ctl
