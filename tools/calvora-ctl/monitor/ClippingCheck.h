#pragma once
// Clipping: runs of samples at full scale. A run counts once it is clipRunSamples long (a
// lone full-scale sample of a loud but clean programme does not); runs are counted per
// channel. Clipping is when more than clipRuns runs of both channels fall within the window;
// it ends when a whole window has passed without a run.
#include <array>
#include <cstdint>
#include <deque>

#include "CheckSettings.h"

namespace calvora::ctl {

class ClippingCheck {
 public:
  enum class Change { kNone, kClipping, kEnd };

  explicit ClippingCheck(const CheckSettings& settings) : settings_(&settings) {}

  // One sample of a channel (0 left, 1 right) at the frame `frame` of the audio.
  void Sample(int channel, int16_t value, uint64_t frame) {
    if (value >= 32767 || value <= -32767) {
      if (++runLength_[channel] == settings_->clipRunSamples)
        CountRun(channel, frame);
    } else {
      runLength_[channel] = 0;
    }
  }
  // At the end of a slice: the audio so far, in frames, and the frames per second.
  Change Evaluate(uint64_t frame, double rate);

  uint64_t Runs(int channel) const { return runs_[channel]; }
  std::size_t RunsInWindow() const { return recent_.size(); }
  bool Clipping() const { return clipping_; }
  void Reset();  // keeps the counts, which only ever grow

 private:
  void CountRun(int channel, uint64_t frame);

  const CheckSettings* settings_;
  std::array<std::size_t, 2> runLength_{};
  std::array<uint64_t, 2> runs_{};
  std::deque<uint64_t> recent_;  // frames of the latest runs, at most clipRuns + 1
  bool clipping_ = false;
};

}  // namespace calvora::ctl
