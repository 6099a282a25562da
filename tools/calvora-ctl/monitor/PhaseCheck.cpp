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
  using Evidence = HoldAndRelease::Evidence;
  const Evidence evidence = !bothSound                             ? Evidence::kNeither
                            : correlation_ < settings_->phaseLimit ? Evidence::kFault
                                                                   : Evidence::kRight;  // NaN too
  return hold_.Add(seconds, evidence, settings_->phaseSeconds, settings_->backSeconds);
}

}  // namespace calvora::ctl
