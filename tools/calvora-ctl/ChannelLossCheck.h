#pragma once
// Channel loss: a broken leg of a stereo line. One channel stays below the level while the
// other plays above it, for the set time; the channel is back once both have played for the
// back time. Both channels quiet together is the utility's silence, not a lost channel.
#include <optional>

#include "CheckSettings.h"

namespace calvora::ctl {

class ChannelLossCheck {
 public:
  enum class Change { kNone, kLost, kBack };

  explicit ChannelLossCheck(const CheckSettings& settings) : settings_(&settings) {}

  // One stretch of `seconds` of audio with the levels (dBFS) of this channel and the other.
  Change Add(double seconds, double ownDb, double otherDb);
  bool Lost() const { return lost_; }
  void Reset() { *this = ChannelLossCheck(*settings_); }

 private:
  const CheckSettings* settings_;
  bool lost_ = false;
  double runSeconds_ = 0;  // towards the change the state waits for
};

}  // namespace calvora::ctl
