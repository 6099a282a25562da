#include "LoudnessCheck.h"

#include <cmath>

namespace calvora::ctl {

LoudnessCheck::Change LoudnessCheck::Add(double seconds, double shortTermLufs) {
  if (!(shortTermLufs > kGateLufs)) {  // NaN and -inf too
    runSeconds_ = 0;
    return Change::kNone;
  }
  const bool outside =
      std::fabs(shortTermLufs - settings_->loudnessTarget) > settings_->loudnessMargin;
  const bool towards = off_ ? !outside : outside;
  runSeconds_ = towards ? runSeconds_ + seconds : 0;
  const double needed = off_ ? settings_->backSeconds : settings_->loudnessSeconds;
  if (!towards || runSeconds_ < needed - 1e-9)
    return Change::kNone;
  off_ = !off_;
  runSeconds_ = 0;
  return off_ ? Change::kOff : Change::kOk;
}

}  // namespace calvora::ctl
