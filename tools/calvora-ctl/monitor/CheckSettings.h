#pragma once
// The settings of the checks calvora-ctl makes of the received audio, with defaults that
// suit a station. Times are seconds of audio; levels are dBFS of the sample peak.
#include <cstddef>

namespace calvora::ctl {

struct CheckSettings {
  // Which checks raise events (--checks).
  bool channel = true;
  bool phase = true;
  bool clipping = true;
  bool loudness = true;

  // Channel loss: one channel below the level for the time while the other is above it.
  // The level is the utility's default silence level.
  double channelLevelDb = -38;
  double channelLostSeconds = 10;
  // Phase: the correlation of left and right over 400 ms below the limit for the time,
  // while both channels carry sound (above channelLevelDb).
  double phaseLimit = -0.5;
  double phaseSeconds = 5;
  // Clipping: a run is this many samples in a row at full scale; more runs than the count
  // within the window (both channels together) is clipping.
  std::size_t clipRunSamples = 3;
  std::size_t clipRuns = 10;
  double clipWindowSeconds = 10;
  // Loudness: the short-term loudness more than the margin from the target for the time.
  double loudnessTarget = -23;
  double loudnessMargin = 10;
  double loudnessSeconds = 60;
  // How long a channel, the phase or the loudness must be right again before its fault ends.
  double backSeconds = 2;

  bool Any() const { return channel || phase || clipping || loudness; }
};

}  // namespace calvora::ctl
