#pragma once
// Channel loss: a broken leg of a stereo line. One channel stays below the level while the
// other plays above it, for the set time; the channel is back once both have played for the
// back time. Both channels quiet together is the utility's silence, not a lost channel.
#include "CheckSettings.h"
#include "HoldAndRelease.h"

namespace calvora::ctl {

class ChannelLossCheck {
 public:
  using Change = HoldAndRelease::Change;  // kRaised: lost; kEnded: back

  explicit ChannelLossCheck(const CheckSettings& settings) : settings_(&settings) {}

  // One stretch of `seconds` of audio with the levels (dBFS) of this channel and the other.
  Change Add(double seconds, double ownDb, double otherDb);
  bool Lost() const { return hold_.Raised(); }
  void Reset() { *this = ChannelLossCheck(*settings_); }

 private:
  const CheckSettings* settings_;
  HoldAndRelease hold_;
};

}  // namespace calvora::ctl
