#pragma once
// Loudness off target: the short-term loudness more than the margin away from the target for
// the set time; back once it has stayed within the margin for the back time. Below -70 LUFS
// (the absolute gate of EBU R128) there is no programme to judge: that is the silence
// detector's business, and the count starts again.
#include "CheckSettings.h"
#include "HoldAndRelease.h"

namespace calvora::ctl {

class LoudnessCheck {
 public:
  using Change = HoldAndRelease::Change;  // kRaised: off target; kEnded: within it again
  static constexpr double kGateLufs = -70;

  explicit LoudnessCheck(const CheckSettings& settings) : settings_(&settings) {}

  // A reading of the short-term loudness covering `seconds` of audio since the last.
  Change Add(double seconds, double shortTermLufs);
  bool Off() const { return hold_.Raised(); }
  void Reset() { *this = LoudnessCheck(*settings_); }

 private:
  const CheckSettings* settings_;
  HoldAndRelease hold_;
};

}  // namespace calvora::ctl
