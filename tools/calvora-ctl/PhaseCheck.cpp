#include "PhaseCheck.h"

#include <cmath>
#include <limits>

namespace calvora::ctl {

PhaseCheck::Change PhaseCheck::Add(double seconds, double sumLR, double sumLL, double sumRR,
                                   bool bothSound) {
  window_[next_] = {sumLR, sumLL, sumRR};
  next_ = (next_ + 1) % kWindowSlices;
  Sums total;
  for (const Sums& s : window_) {
    total.lr += s.lr;
    total.ll += s.ll;
    total.rr += s.rr;
  }
  correlation_ = total.ll > 0 && total.rr > 0 ? total.lr / std::sqrt(total.ll * total.rr)
                                              : std::numeric_limits<double>::quiet_NaN();
  const bool below = correlation_ < settings_->phaseLimit;  // false for NaN
  const bool towards = bothSound && (reversed_ ? !below : below);
  runSeconds_ = towards ? runSeconds_ + seconds : 0;
  const double needed = reversed_ ? settings_->backSeconds : settings_->phaseSeconds;
  if (!towards || runSeconds_ < needed - 1e-9)
    return Change::kNone;
  reversed_ = !reversed_;
  runSeconds_ = 0;
  return reversed_ ? Change::kReversed : Change::kNormal;
}

}  // namespace calvora::ctl
