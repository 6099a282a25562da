#pragma once
// The level scale shared by the capture, the detector, the meter and the audio feed:
// dB relative to 16-bit full scale (32768), with -90.3 standing for a peak of 0.
#include <cmath>
#include <cstdint>

namespace calvora::audio {

constexpr double kSilentLevelDb = -90.3;

// The magnitude of a 16-bit sample: the sample itself when 0 or more, -1 - sample when
// negative, so that -32768 reads 32767 and every magnitude fits a signed 16-bit peak.
constexpr int16_t SampleMagnitude(int16_t sample) {
  // sample >> 15 is 0 for 0 or more and -1 (all ones) below: the xor is then -1 - sample.
  return static_cast<int16_t>(sample ^ (sample >> 15));
}

// A peak magnitude in dB: 20 x log10(peak / 32768), taken in extended precision; a peak
// below 1 reads kSilentLevelDb, a little above the -90.309 of a peak of 1.
inline double PeakToDb(int32_t peak) {
  if (peak < 1)
    return kSilentLevelDb;
  return static_cast<double>(20.0L * std::log10(static_cast<long double>(peak) / 32768.0L));
}

}  // namespace calvora::audio
