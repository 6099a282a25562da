#pragma once
// Phase: the correlation of left and right, as a correlation meter shows it, over a sliding
// window of the last four 100 ms slices. The channels are "reversed" when it stays below the
// limit for the set time while both carry sound; normal again once it has stayed at or above
// the limit, both sounding, for the back time. A stretch without sound on both channels holds
// the state and restarts the count.
#include <array>
#include <cstddef>

#include "CheckSettings.h"
#include "HoldAndRelease.h"

namespace calvora::ctl {

class PhaseCheck {
 public:
  using Change = HoldAndRelease::Change;  // kRaised: reversed; kEnded: normal again
  static constexpr std::size_t kWindowSlices = 4;

  explicit PhaseCheck(const CheckSettings& settings) : settings_(&settings) {}

  // One slice: its length, the sums of left*right, left*left and right*right, and whether
  // both channels carried sound in it.
  Change Add(double seconds, double sumLR, double sumLL, double sumRR, bool bothSound);
  // Over the window; NaN while a channel has carried nothing in it.
  double Correlation() const { return correlation_; }
  bool Reversed() const { return hold_.Raised(); }
  void Reset() { *this = PhaseCheck(*settings_); }

 private:
  struct Sums {
    double lr = 0, ll = 0, rr = 0;
  };
  const CheckSettings* settings_;
  std::array<Sums, kWindowSlices> window_{};
  std::size_t next_ = 0;
  double correlation_ = 0.0 / 0.0;
  HoldAndRelease hold_;
};

}  // namespace calvora::ctl
