#include "ClippingCheck.h"

namespace calvora::ctl {

void ClippingCheck::CountRun(int channel, uint64_t frame) {
  ++runs_[channel];
  recent_.push_back(frame);
  // Only whether more than clipRuns fall within the window matters.
  if (recent_.size() > settings_->clipRuns + 1)
    recent_.pop_front();
}

ClippingCheck::Change ClippingCheck::Evaluate(uint64_t frame, double rate) {
  const auto window = static_cast<uint64_t>(settings_->clipWindowSeconds * rate);
  while (!recent_.empty() && recent_.front() + window <= frame)
    recent_.pop_front();
  if (!clipping_ && recent_.size() > settings_->clipRuns) {
    clipping_ = true;
    return Change::kClipping;
  }
  if (clipping_ && recent_.empty()) {
    clipping_ = false;
    return Change::kEnd;
  }
  return Change::kNone;
}

void ClippingCheck::Reset() {
  runLength_ = {};
  recent_.clear();
  clipping_ = false;
}

}  // namespace calvora::ctl
