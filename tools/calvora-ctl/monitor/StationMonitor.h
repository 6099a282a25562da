#pragma once
// The station's state as the notifications and the checks tell it: the last audio block's
// levels, counts, the readings of the audio analyser (EBU R128 loudness, true peak,
// correlation, clipping runs) and the last events. The metrics, the status and the live page
// are written from a snapshot of it (MetricsExposition, StatusJson, LiveJson).
//
// The bus handler feeds it; the HTTP thread takes snapshots. One mutex guards it; the
// per-block work is a copy of a few numbers.
#include <mutex>
#include <string>

#include "AudioAnalyser.h"
#include "StationSnapshot.h"
#include "events/StationEvents.h"

namespace calvora::ctl {

class StationMonitor {
 public:
  using Clock = StationSnapshot::Clock;

  // With a station's name every metric carries station="NAME"; without, no such label.
  explicit StationMonitor(std::string station = {});
  StationMonitor(const StationMonitor&) = delete;
  StationMonitor& operator=(const StationMonitor&) = delete;

  static constexpr std::size_t kRecentEvents = 20;

  // An audio block's header fields, and the analyser's readings after it.
  void OnAudio(int32_t sampleRate, double left, double right, Clock::time_point at = Clock::now());
  void OnReadings(const AudioReadings& readings);
  // An event as EventTracker or the analyser made it.
  void OnEvent(const StationEvent& event, Clock::time_point at = Clock::now());
  // Attached to a utility (true) or left without one: nothing is known of the station then.
  void OnUtility(bool up);
  // The utility's answer to the verdict question: silent or not, or not known.
  void OnVerdict(std::optional<bool> silent);

  StationSnapshot Snapshot();

 private:
  // Whether the air is silent is not known any more, nor are the readings of the audio before
  // a reading of what comes after (the counters stay). Under the lock.
  void ForgetTheAir();

  std::mutex mutex_;
  StationSnapshot state_;
};

}  // namespace calvora::ctl
