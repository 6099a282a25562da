#include "HoldAndRelease.h"

namespace calvora::ctl {

HoldAndRelease::Change HoldAndRelease::Add(double seconds, Evidence evidence, double setSeconds,
                                           double clearSeconds) {
  const bool towards = evidence == (raised_ ? Evidence::kRight : Evidence::kFault);
  runSeconds_ = towards ? runSeconds_ + seconds : 0;
  const double needed = raised_ ? clearSeconds : setSeconds;
  // A small allowance, so that a sum of slices meets a whole number of seconds.
  if (!towards || runSeconds_ < needed - 1e-9)
    return Change::kNone;
  raised_ = !raised_;
  runSeconds_ = 0;
  return raised_ ? Change::kRaised : Change::kEnded;
}

}  // namespace calvora::ctl
