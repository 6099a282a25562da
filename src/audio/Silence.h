#pragma once
// Decides when the captured input has fallen silent and when sound has come back. Its
// clock is the audio fed to it: each block counts for the time it lasts, for or against
// the verdict sought, and the net evidence decides.
#include <cstdint>
#include <functional>

namespace calvora::audio {

class TSilence;

// What the detector looks for; a verdict carries the mode that was being sought.
constexpr uint8_t smOff = 0;
constexpr uint8_t smSeekSilence = 1;
constexpr uint8_t smSeekSound = 2;

using TSilenceEvent = std::function<void(TSilence& sender, uint8_t verdict)>;

class TSilence {
 public:
  TSilence() = default;

  // Looks for `mode` for `seconds` of net evidence against the level `levelDb`. A time
  // that is not above 0 switches the detector off. The evidence starts again from 0.
  void Configure(uint8_t mode, double seconds, double levelDb);

  // Takes one block of 16-bit stereo samples at `sampleRate` Hz. Raises OnSilence when
  // the evidence reaches NeedTime; the handler may reconfigure the detector.
  void Feed(const void* data, int32_t count, int32_t sampleRate);

  static double PeakToDb(int16_t peak);

  uint8_t Mode = smOff;
  double NeedTime = 0;
  double Elapsed = 0;
  double Threshold = 0;
  double LastLevel = 0;
  TSilenceEvent OnSilence;
};

}  // namespace calvora::audio
