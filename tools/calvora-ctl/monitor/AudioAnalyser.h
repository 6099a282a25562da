#pragma once
// What calvora-ctl reads from the received audio blocks, and the checks it makes of them.
// Each block's samples are read once: per channel the lowest and highest sample, the sum (for
// the DC offset), the runs at full scale, and the products of left and right for the
// correlation; the same block goes to libebur128 for the loudness and the true peak (4 times
// oversampled). The readings are gathered in slices of 100 ms of audio, at the end of which
// the checks decide, so the checks' time is the audio's own, block size aside.
#include <ebur128.h>

#include <array>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "ChannelLossCheck.h"
#include "CheckSettings.h"
#include "ClippingCheck.h"
#include "LoudnessCheck.h"
#include "PhaseCheck.h"
#include "events/StationEvents.h"

namespace calvora::ctl {

// No reading: before the first audio, and after the sound card went away. 0 would be a
// reading (0 LUFS is the loudest programme, 0 dBFS full scale).
inline constexpr double kNoReading = std::numeric_limits<double>::quiet_NaN();

struct AudioReadings {
  int32_t sampleRate = 0;
  unsigned channels = 0;
  double audioSeconds = 0;  // since the start or the last reset
  // Per channel (left, right), over the last slice: half the distance from the lowest to the
  // highest sample in dBFS (a constant or DC-offset signal reads as none), and the mean in
  // parts of full scale.
  std::array<double, 2> levelDb{kNoReading, kNoReading};
  std::array<double, 2> dcOffset{kNoReading, kNoReading};
  double correlation = kNoReading;  // over 400 ms; also none without sound on both channels
  // EBU R128 loudness; -inf below the -70 LUFS gate, where there is no programme to measure.
  double momentaryLufs = kNoReading;
  double shortTermLufs = kNoReading;
  double integratedLufs = kNoReading;
  std::array<double, 2> truePeakDb{kNoReading, kNoReading};     // the highest of the last 3 s
  std::array<double, 2> truePeakMaxDb{kNoReading, kNoReading};  // the highest since the start
  std::array<uint64_t, 2> clippingRuns{};
  std::array<bool, 2> channelLost{};
  bool phaseReversed = false;
  bool clipping = false;
  bool loudnessOff = false;
};

class AudioAnalyser {
 public:
  explicit AudioAnalyser(const CheckSettings& settings);
  ~AudioAnalyser();
  AudioAnalyser(const AudioAnalyser&) = delete;
  AudioAnalyser& operator=(const AudioAnalyser&) = delete;

  // One block of 16-bit interleaved samples as received; the events of the checks it ended
  // (kind, channel and value set; the caller stamps the time).
  std::vector<StationEvent> OnBlock(int32_t sampleRate, unsigned channels,
                                    std::span<const uint8_t> samples);
  const AudioReadings& Readings() const { return readings_; }
  // The sound card went away: what was measured is no reading of what comes after.
  void Reset();

  static constexpr int kSlicesPerSecond = 10;
  static constexpr int kSlicesPerShortTerm = 30;  // the short-term loudness reads 3 s

 private:
  struct Slice {
    std::array<int, 2> low{32767, 32767};
    std::array<int, 2> high{-32768, -32768};
    std::array<int64_t, 2> sum{};
    int64_t lr = 0, ll = 0, rr = 0;
    uint64_t frames = 0;
  };
  void EndSlice(const Slice& slice, std::vector<StationEvent>& events);
  void ReadLoudness(double seconds, std::vector<StationEvent>& events);
  void Raise(std::vector<StationEvent>& events, EventKind kind, Channel channel, double value);

  const CheckSettings& settings_;
  ebur128_state* meter_ = nullptr;
  int32_t rate_ = 0;
  unsigned channels_ = 0;
  std::vector<int16_t> samples_;
  uint64_t frames_ = 0;
  uint64_t slicesDone_ = 0;
  Slice slice_;
  // The mean square (K-weighted) of each of the last 30 slices: their mean is the short-term
  // loudness, read at every slice for the cost of 100 ms rather than 3 s.
  std::array<double, kSlicesPerShortTerm> sliceEnergy_{};
  std::array<double, 2> sliceTruePeak_{};
  std::array<std::array<double, 30>, 2> truePeakSlices_{};  // the last 3 s
  ChannelLossCheck channelLoss_[2]{ChannelLossCheck(settings_), ChannelLossCheck(settings_)};
  PhaseCheck phase_{settings_};
  ClippingCheck clipping_{settings_};
  LoudnessCheck loudness_{settings_};
  AudioReadings readings_;
};

}  // namespace calvora::ctl
