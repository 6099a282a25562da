#include "ChannelLossCheck.h"

namespace calvora::ctl {

ChannelLossCheck::Change ChannelLossCheck::Add(double seconds, double ownDb, double otherDb) {
  const double level = settings_->channelLevelDb;
  using Evidence = HoldAndRelease::Evidence;
  // Only the other channel playing tells this one's state: lost below the level, right above.
  const Evidence evidence = otherDb < level ? Evidence::kNeither
                            : ownDb < level ? Evidence::kFault
                                            : Evidence::kRight;
  return hold_.Add(seconds, evidence, settings_->channelLostSeconds, settings_->backSeconds);
}

}  // namespace calvora::ctl
