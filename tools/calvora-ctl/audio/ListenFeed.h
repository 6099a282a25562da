#pragma once
// The programme for those listening in: each listener has an Ogg Opus encoder of its own, made
// when it joins and let go when it leaves, so nothing is encoded while nobody listens, and
// each stream starts with its own headers, as a player expects. A stream keeps pace with the
// clock from its start: where no blocks come (the utility stopped or restarts, a gap) the tick
// fills in silence, and blocks that would run it far ahead of the clock (a burst after a
// stall) are left out, so a player neither starves nor falls ever further behind. A change of
// sample rate ends each stream cleanly with its last page (the page's player joins again).
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

namespace calvora::ctl {

class OggOpusEncoder;

class ListenFeed {
 public:
  using Clock = std::chrono::steady_clock;
  // Takes a listener's bytes; false when the listener has gone (dropped, or closed).
  using Sink = std::function<bool(const std::string& bytes)>;

  // A stream at the rate it is fed, as when the utility sends nothing yet.
  static constexpr int kDefaultRate = 48000;
  // How far a stream may fall behind the clock before silence is filled in, and how far ahead
  // of it blocks may run before they are left out.
  static constexpr std::chrono::milliseconds kFillBehind{300};
  static constexpr std::chrono::milliseconds kAheadAtMost{1000};

  explicit ListenFeed(int bitrate);
  ~ListenFeed();

  // A new listener: its stream's headers go out at once.
  void Join(Sink sink, Clock::time_point now = Clock::now());
  // A block of the programme (interleaved 16-bit samples), from the bus handler.
  void OnAudio(int sampleRate, int channels, std::span<const int16_t> samples,
               Clock::time_point now = Clock::now());
  // Fills silence into streams that fell behind; called a few times a second.
  void Tick(Clock::time_point now = Clock::now());

  std::size_t Listeners() const;

 private:
  struct Listener {
    std::unique_ptr<OggOpusEncoder> encoder;
    Clock::time_point start;
    uint64_t frames = 0;  // written so far
    bool gone = false;
  };
  static int64_t FramesDue(const Listener& listener, Clock::time_point now);
  void RemoveGone();

  const int bitrate_;
  mutable std::mutex mutex_;
  std::vector<std::unique_ptr<Listener>> listeners_;
  int rate_ = kDefaultRate;
  int channels_ = 2;
};

}  // namespace calvora::ctl
