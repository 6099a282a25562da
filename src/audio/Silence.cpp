#include "audio/Silence.h"

#include <algorithm>

#include "audio/Level.h"

namespace calvora::audio {

void TSilence::Configure(uint8_t mode, double seconds, double levelDb) {
  if (!(seconds > 0)) {
    mode = smOff;
    seconds = 0;
  }
  Elapsed = 0;
  NeedTime = seconds;
  Threshold = levelDb;
  Mode = mode;
}

double TSilence::PeakToDb(int16_t peak) {
  return audio::PeakToDb(peak);
}

void TSilence::Feed(const void* data, int32_t count, int32_t sampleRate) {
  if (NeedTime == 0)
    Mode = smOff;
  if (Mode == smOff) {
    Elapsed = 0;
    return;
  }

  // Both channels together; a trailing odd byte is ignored.
  // A missing block or a negative count is an empty block.
  const int32_t length = count > 0 && data != nullptr ? count : 0;
  const auto* bytes = static_cast<const unsigned char*>(data);
  const int32_t samples = length / 2;
  int16_t peak = 0;
  for (int32_t i = 0; i < samples; ++i) {
    const auto sample = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    peak = std::max(peak, SampleMagnitude(sample));
  }
  LastLevel = PeakToDb(peak);

  // The block lasts count / (rate x 4) seconds. A rate that is not positive has no
  // meaningful duration: the block then weighs nothing, rather than dividing by zero.
  const int64_t bytesPerSecond = static_cast<int64_t>(sampleRate) * 4;
  const long double dt = bytesPerSecond > 0 ? static_cast<long double>(length) /
                                                  static_cast<long double>(bytesPerSecond)
                                            : 0.0L;

  const bool qualifies = Mode == smSeekSilence ? LastLevel < Threshold : LastLevel > Threshold;
  long double elapsed = Elapsed;
  elapsed = qualifies ? elapsed + dt : elapsed - dt;
  Elapsed = static_cast<double>(elapsed);
  if (Elapsed < 0)
    Elapsed = 0;

  if (Elapsed >= NeedTime) {
    Elapsed = 0;
    // The handler may reconfigure this detector; nothing is touched after it.
    if (OnSilence)
      OnSilence(*this, Mode);
  }
}

}  // namespace calvora::audio
