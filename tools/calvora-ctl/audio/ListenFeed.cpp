#include "ListenFeed.h"

#include "OggOpusEncoder.h"

namespace calvora::ctl {

namespace {

// A listener's pages go out at least every 200 ms, so a player starts soon and stays fed.
constexpr int kListenPageDelayMs = 200;

int64_t Frames(std::chrono::nanoseconds span, int rate) {
  return span.count() * rate / 1'000'000'000;
}

}  // namespace

ListenFeed::ListenFeed(int bitrate) : bitrate_(bitrate) {}

ListenFeed::~ListenFeed() = default;

void ListenFeed::Join(Sink sink, Clock::time_point now) {
  auto listener = std::make_unique<Listener>();
  Listener* self = listener.get();
  listener->encoder = std::make_unique<OggOpusEncoder>(
      rate_, channels_, bitrate_, kListenPageDelayMs,
      [self, sink = std::move(sink)](const unsigned char* bytes, std::size_t size) {
        if (!sink(std::string(reinterpret_cast<const char*>(bytes), size)))
          self->gone = true;
        return !self->gone;
      });
  listener->start = now;
  if (!listener->encoder->FlushHeaders())
    return;
  std::lock_guard lock(mutex_);
  listeners_.push_back(std::move(listener));
}

int64_t ListenFeed::FramesDue(const Listener& listener, Clock::time_point now) {
  return Frames(now - listener.start, listener.encoder->SampleRate());
}

void ListenFeed::OnAudio(int sampleRate, int channels, std::span<const int16_t> samples,
                         Clock::time_point now) {
  std::lock_guard lock(mutex_);
  if (sampleRate <= 0 || channels <= 0)
    return;
  if (sampleRate != rate_ || channels != channels_) {
    rate_ = sampleRate;
    channels_ = channels;
    for (auto& listener : listeners_) {
      listener->encoder->Finish();
      listener->gone = true;
    }
    RemoveGone();
    return;
  }
  const auto frames = static_cast<int64_t>(samples.size() / static_cast<std::size_t>(channels));
  const int64_t ahead = Frames(kAheadAtMost, rate_);
  for (auto& listener : listeners_) {
    if (static_cast<int64_t>(listener->frames) + frames > FramesDue(*listener, now) + ahead)
      continue;
    if (!listener->encoder->Write(samples))
      listener->gone = true;
    listener->frames += static_cast<uint64_t>(frames);
  }
  RemoveGone();
}

void ListenFeed::Tick(Clock::time_point now) {
  std::lock_guard lock(mutex_);
  for (auto& listener : listeners_) {
    const int rate = listener->encoder->SampleRate();
    const int64_t due = FramesDue(*listener, now);
    const int64_t behind = due - static_cast<int64_t>(listener->frames);
    if (behind <= Frames(kFillBehind, rate))
      continue;
    // Up to a little behind the clock, so that blocks that come late still have their place.
    const int64_t fill = behind - Frames(kFillBehind, rate) / 2;
    if (!listener->encoder->WriteSilence(static_cast<std::size_t>(fill)))
      listener->gone = true;
    listener->frames += static_cast<uint64_t>(fill);
  }
  RemoveGone();
}

std::size_t ListenFeed::Listeners() const {
  std::lock_guard lock(mutex_);
  return listeners_.size();
}

void ListenFeed::RemoveGone() {
  std::erase_if(listeners_,
                [](const auto& listener) { return listener->gone || !listener->encoder->Ok(); });
}

}  // namespace calvora::ctl
