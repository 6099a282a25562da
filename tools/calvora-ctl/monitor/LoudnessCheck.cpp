#include "LoudnessCheck.h"

#include <cmath>

namespace calvora::ctl {

LoudnessCheck::Change LoudnessCheck::Add(double seconds, double shortTermLufs) {
  using Evidence = HoldAndRelease::Evidence;
  Evidence evidence = Evidence::kNeither;  // below the gate, NaN and -inf too
  if (shortTermLufs > kGateLufs) {
    const bool outside =
        std::fabs(shortTermLufs - settings_->loudnessTarget) > settings_->loudnessMargin;
    evidence = outside ? Evidence::kFault : Evidence::kRight;
  }
  return hold_.Add(seconds, evidence, settings_->loudnessSeconds, settings_->backSeconds);
}

}  // namespace calvora::ctl
