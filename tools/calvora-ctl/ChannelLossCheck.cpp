#include "ChannelLossCheck.h"

namespace calvora::ctl {

ChannelLossCheck::Change ChannelLossCheck::Add(double seconds, double ownDb, double otherDb) {
  const double level = settings_->channelLevelDb;
  const bool towards =
      lost_ ? ownDb >= level && otherDb >= level : ownDb < level && otherDb >= level;
  runSeconds_ = towards ? runSeconds_ + seconds : 0;
  const double needed = lost_ ? settings_->backSeconds : settings_->channelLostSeconds;
  // A small allowance, so that a sum of slices meets a whole number of seconds.
  if (!towards || runSeconds_ < needed - 1e-9)
    return Change::kNone;
  lost_ = !lost_;
  runSeconds_ = 0;
  return lost_ ? Change::kLost : Change::kBack;
}

}  // namespace calvora::ctl
