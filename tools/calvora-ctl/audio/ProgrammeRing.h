#pragma once
// The last seconds of the programme as received, on one timeline of sample frames: each block
// follows the one before it, and a block that comes later than the audio so far accounts for
// (the utility stopped, a block was lost) starts after a gap that reads as silence. What is
// older than the ring's length is let go, so it holds at most that many seconds of audio at
// the highest rate, whatever happens. A change of sample rate or channels starts it afresh.
#include <chrono>
#include <cstdint>
#include <deque>
#include <span>
#include <vector>

namespace calvora::ctl {

class ProgrammeRing {
 public:
  using Clock = std::chrono::system_clock;
  // A block that comes more than this after the audio so far ends starts after a gap.
  static constexpr std::chrono::milliseconds kGapAfter{250};

  explicit ProgrammeRing(std::chrono::milliseconds length) : length_(length) {}

  // A block of interleaved samples received at `at` (its last frame's moment).
  void Append(Clock::time_point at, int sampleRate, int channels, std::span<const int16_t> samples);

  // The frames from `from` to `to` that the ring holds, as interleaved samples: the window is
  // cut to the audio received (nothing is made up before the oldest frame held nor after the
  // newest), and a gap between blocks reads as silence. Empty when none of the window was
  // received. `rate` and `channels` tell the format.
  std::vector<int16_t> Take(Clock::time_point from, Clock::time_point to, int& rate,
                            int& channels) const;
  // Whether the ring holds audio received after `from`.
  bool HoldsAudioAfter(Clock::time_point from) const;

  int SampleRate() const { return rate_; }
  // The frames held (a bound on memory: frames x channels x 2 bytes).
  std::size_t FramesHeld() const { return framesHeld_; }

 private:
  struct Block {
    int64_t start;  // frame position on the timeline
    std::vector<int16_t> samples;
  };
  // The timeline position of a moment, from the newest block's.
  int64_t PositionAt(Clock::time_point at) const;

  const std::chrono::milliseconds length_;
  int rate_ = 0;
  int channels_ = 0;
  std::deque<Block> blocks_;
  std::size_t framesHeld_ = 0;
  int64_t end_ = 0;          // the position after the newest frame
  Clock::time_point endAt_;  // the moment of that position
};

}  // namespace calvora::ctl
