#pragma once
// What the metrics, the status and the live page show: the station's state as the
// notifications and the checks tell it, the last audio block's levels, counts, the readings
// of the audio analyser (EBU R128 loudness, true peak, correlation, clipping runs) and the
// last events.
//
// The bus handler feeds it; the HTTP thread reads it. One mutex guards it; the per-block work
// is a copy of a few numbers.
#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <span>
#include <string>

#include "AudioAnalyser.h"
#include "StationEvents.h"

namespace calvora::ctl {

class StationMonitor {
 public:
  using Clock = std::chrono::steady_clock;

  // With a station's name every metric carries station="NAME"; without, no such label.
  explicit StationMonitor(std::string station = {});
  ~StationMonitor();
  StationMonitor(const StationMonitor&) = delete;
  StationMonitor& operator=(const StationMonitor&) = delete;

  static constexpr std::size_t kRecentEvents = 20;

  // An audio block's header fields, and the analyser's readings after it.
  void OnAudio(int32_t sampleRate, double left, double right, Clock::time_point at = Clock::now());
  void OnReadings(const AudioReadings& readings);
  // An event as EventTracker or the analyser made it.
  void OnEvent(const StationEvent& event, Clock::time_point at = Clock::now());

  // The Prometheus text exposition of the metrics, and the JSON status.
  std::string Metrics(Clock::time_point now = Clock::now());
  // Other metrics in the exposition format, labelled with the station as these are.
  std::string Labelled(const std::string& exposition) const;
  std::string Status(Clock::time_point now = Clock::now());
  // For the live page: the state and the readings now, and the last events, newest first.
  std::string LiveJson(Clock::time_point now = Clock::now());
  std::string RecentEventsJson();
  // One event as the live page takes it.
  static std::string EventJson(const StationEvent& event);

 private:
  const std::string station_;
  std::mutex mutex_;
  AudioReadings readings_;
  std::deque<std::string> recent_;  // EventJson of the last events, newest first
  std::array<uint64_t, kEventKindCount> counts_{};
  bool haveAudio_ = false;
  bool silent_ = false;
  int online_[2] = {-1, -1};  // -1 not known yet, 0 offline, 1 online
  double left_ = 0;
  double right_ = 0;
  int32_t sampleRate_ = 0;
  uint64_t blocks_ = 0;
  uint64_t silences_ = 0;
  uint64_t soundBacks_ = 0;
  Clock::time_point lastBlock_{};
  Clock::time_point lastVerdict_{};
  bool haveVerdict_ = false;
  std::string lastVerdictName_;
  std::string lastVerdictTime_;
};

}  // namespace calvora::ctl
