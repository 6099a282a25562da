#pragma once
// What the metrics and the status page show: the station's state as the notifications tell
// it, the last audio block's levels, counts, and the EBU R128 loudness of the received audio
// (momentary: the last 400 ms; short-term: the last 3 s) measured with libebur128.
//
// The bus handler feeds it; the HTTP threads read it. One mutex guards it; the per-block
// work is copying the samples into the loudness meter's filter, the loudness itself is
// computed only when someone asks.
#include <ebur128.h>

#include <chrono>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <vector>

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

  // An audio block: its header fields and its 16-bit interleaved samples as received.
  void OnAudio(int32_t sampleRate, unsigned channels, double left, double right,
               std::span<const uint8_t> samples, Clock::time_point at = Clock::now());
  // An event as EventTracker made it.
  void OnEvent(const StationEvent& event, Clock::time_point at = Clock::now());

  // The Prometheus text exposition of the metrics, and the JSON status.
  std::string Metrics(Clock::time_point now = Clock::now());
  std::string Status(Clock::time_point now = Clock::now());

 private:
  struct Loudness {
    double momentary;
    double shortTerm;
  };
  Loudness MeasureLoudness();  // with mutex_ held
  void ResetLoudness();        // with mutex_ held

  const std::string station_;
  std::mutex mutex_;
  ebur128_state* meter_ = nullptr;
  unsigned long meterRate_ = 0;
  unsigned meterChannels_ = 0;
  std::vector<int16_t> frames_;
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
