#include "DetectionTimes.h"

#include <cmath>

namespace calvora::ctl {

namespace {

// The utility's longest SilenceTime and RestoreTime as its dialog takes them.
constexpr double kUtilityLongestSeconds = 30;
// The readings' own spans: a slice of the levels, the correlation's window, and short-term
// loudness's window, each filled with the fault before the hold begins to count.
constexpr double kSliceSeconds = 0.1;
constexpr double kCorrelationSeconds = 0.4;
constexpr double kShortTermSeconds = 3;

std::chrono::milliseconds Ms(double seconds) {
  return std::chrono::milliseconds(static_cast<int64_t>(std::ceil(seconds * 1000)));
}

}  // namespace

std::array<std::chrono::milliseconds, kEventKindCount> DetectionTimesOf(
    const CheckSettings& checks) {
  std::array<std::chrono::milliseconds, kEventKindCount> times{};
  const auto set = [&](EventKind kind, double seconds) {
    times[static_cast<std::size_t>(kind)] = Ms(seconds);
  };
  set(EventKind::kSilence, kUtilityLongestSeconds);
  set(EventKind::kSound, kUtilityLongestSeconds);
  // Offline and online are told as the utility finds them: no reach beyond the 10 s.
  // A check that is off raises no events, and needs no reach.
  if (checks.channel) {
    set(EventKind::kChannelLost, checks.channelLostSeconds + kSliceSeconds);
    set(EventKind::kChannelBack, checks.backSeconds + kSliceSeconds);
  }
  if (checks.phase) {
    set(EventKind::kPhaseReversed, checks.phaseSeconds + kCorrelationSeconds);
    set(EventKind::kPhaseNormal, checks.backSeconds + kCorrelationSeconds);
  }
  // Clipping is counted within its window; it ends after a whole window without a run.
  if (checks.clipping) {
    set(EventKind::kClipping, checks.clipWindowSeconds);
    set(EventKind::kClippingEnd, checks.clipWindowSeconds);
  }
  if (checks.loudness) {
    set(EventKind::kLoudnessOff, checks.loudnessSeconds + kShortTermSeconds);
    set(EventKind::kLoudnessOk, checks.backSeconds + kShortTermSeconds);
  }
  return times;
}

}  // namespace calvora::ctl
