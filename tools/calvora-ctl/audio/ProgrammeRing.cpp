#include "ProgrammeRing.h"

#include <algorithm>

namespace calvora::ctl {

namespace {

int64_t FramesIn(std::chrono::nanoseconds span, int rate) {
  return span.count() * rate / 1'000'000'000;
}

}  // namespace

void ProgrammeRing::Append(Clock::time_point at, int sampleRate, int channels,
                           std::span<const int16_t> samples) {
  if (sampleRate <= 0 || channels <= 0)
    return;
  if (sampleRate != rate_ || channels != channels_) {
    blocks_.clear();
    framesHeld_ = 0;
    rate_ = sampleRate;
    channels_ = channels;
    end_ = 0;
    endAt_ = at;
  }
  const auto frames = static_cast<int64_t>(samples.size() / static_cast<std::size_t>(channels));
  if (frames == 0)
    return;
  // Where the block starts: right after the audio so far, unless it came so late that the
  // time between was not accounted for by audio.
  int64_t start = end_;
  const auto blockStartsAt = at - std::chrono::nanoseconds(frames * 1'000'000'000 / rate_);
  if (!blocks_.empty() && blockStartsAt - endAt_ > kGapAfter)
    start = end_ + FramesIn(blockStartsAt - endAt_, rate_);
  blocks_.push_back({start, std::vector<int16_t>(samples.begin(), samples.end())});
  framesHeld_ += static_cast<std::size_t>(frames);
  end_ = start + frames;
  endAt_ = at;
  const int64_t keepFrom = end_ - FramesIn(length_, rate_);
  while (!blocks_.empty() &&
         blocks_.front().start + static_cast<int64_t>(blocks_.front().samples.size()) / channels_ <=
             keepFrom) {
    framesHeld_ -= blocks_.front().samples.size() / static_cast<std::size_t>(channels_);
    blocks_.pop_front();
  }
}

int64_t ProgrammeRing::PositionAt(Clock::time_point at) const {
  return end_ + FramesIn(at - endAt_, rate_);
}

std::vector<int16_t> ProgrammeRing::Take(Clock::time_point from, Clock::time_point to, int& rate,
                                         int& channels) const {
  rate = rate_;
  channels = channels_;
  if (blocks_.empty() || to <= from)
    return {};
  const int64_t first = std::max(PositionAt(from), blocks_.front().start);
  const int64_t last = std::min(PositionAt(to), end_);
  if (last <= first)
    return {};
  std::vector<int16_t> out(static_cast<std::size_t>((last - first) * channels_), 0);
  for (const Block& block : blocks_) {
    const int64_t frames = static_cast<int64_t>(block.samples.size()) / channels_;
    const int64_t begin = std::max(block.start, first);
    const int64_t end = std::min(block.start + frames, last);
    if (begin >= end)
      continue;
    std::copy(block.samples.begin() + (begin - block.start) * channels_,
              block.samples.begin() + (end - block.start) * channels_,
              out.begin() + (begin - first) * channels_);
  }
  return out;
}

bool ProgrammeRing::HoldsAudioAfter(Clock::time_point from) const {
  return !blocks_.empty() && endAt_ > from;
}

}  // namespace calvora::ctl
