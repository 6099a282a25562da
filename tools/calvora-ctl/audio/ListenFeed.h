#pragma once
// The programme for those listening in: one Ogg Opus stream, encoded on a thread of its own,
// whose pages go to every listener. The encoder is made when the first listener joins and let
// go when the last one leaves, so nothing is encoded while nobody listens. A listener that
// joins later gets the stream's headers first, then the live pages from the next page on, so
// each stream still starts as a player expects.
//
// The bus handler only hands its blocks over (OnAudio): they wait in a bounded queue, and when
// the encoder falls behind they are dropped and counted, never waited for. The figures
// (listeners, blocks dropped, pages made) are atomics, so the metrics never wait on the
// encoder either.
//
// The stream keeps pace with the clock from its start: where no blocks come (the utility
// stopped or restarts, a gap) silence is filled in, and blocks that would run it far ahead of
// the clock (a burst after a stall) are left out, so a player neither starves nor falls ever
// further behind. A change of sample rate ends the stream cleanly with its last page and ends
// every listener (the page's player joins again, to a stream at the new rate).
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace calvora::ctl {

class OggOpusEncoder;

class ListenFeed {
 public:
  using Clock = std::chrono::steady_clock;
  // Takes a listener's bytes; false when the listener has gone (dropped, or closed).
  using Sink = std::function<bool(const std::string& bytes)>;
  // Ends a listener's stream after the bytes it was given (the stream ended).
  using End = std::function<void()>;

  // A stream at the rate it is fed, as when the utility sends nothing yet.
  static constexpr int kDefaultRate = 48000;
  // How far the stream may fall behind the clock before silence is filled in, and how far
  // ahead of it blocks may run before they are left out.
  static constexpr std::chrono::milliseconds kFillBehind{300};
  static constexpr std::chrono::milliseconds kAheadAtMost{1000};
  // Blocks waiting for the encoder at most (two seconds of 10 ms blocks); more are dropped.
  static constexpr std::size_t kQueuedAtMost = 200;
  // How often the encoder's thread looks at the clock when no block comes.
  static constexpr std::chrono::milliseconds kTickPeriod{100};

  explicit ListenFeed(int bitrate);
  ~ListenFeed();  // closes
  ListenFeed(const ListenFeed&) = delete;
  ListenFeed& operator=(const ListenFeed&) = delete;

  // A new listener (from a server's thread; never waits on the encoder): the stream's headers
  // go out to it as soon as the encoder's thread takes it in, then the live pages.
  void Join(Sink sink, End end = {});
  // A block of the programme (interleaved 16-bit samples), from the bus handler: copied into
  // the queue, or dropped when the queue is full or nobody listens. Never waits on the encoder.
  void OnAudio(int sampleRate, int channels, std::span<const int16_t> samples,
               Clock::time_point now = Clock::now());

  // Ends the encoder's thread and every listener's stream; a listener joining later is ended at
  // once. For the server to call before it stops, so that no page goes to a stream it let go.
  void Close();

  struct Figures {
    std::size_t listeners = 0;
    uint64_t blocksDropped = 0;  // left out because the encoder was behind
    uint64_t pagesMade = 0;      // Ogg pages encoded (each goes to every listener)
  };
  Figures Read() const;
  std::size_t Listeners() const { return listeners_.load(); }

 private:
  struct Block {
    int rate = 0;
    int channels = 0;
    Clock::time_point at;
    std::vector<int16_t> samples;
  };
  struct Listener {
    Sink sink;
    End end;
    bool gone = false;
  };

  void Run();
  // On the encoder's thread: each step of the loop.
  void TakeJoiners(std::vector<Listener>& joined);
  bool StartStream(Clock::time_point now);
  void Encode(const Block& block);
  void FillSilence(Clock::time_point now);
  void EndStream();
  void SendPage(const std::string& page);
  void RemoveGone();
  int64_t FramesDue(Clock::time_point now) const;

  const int bitrate_;

  // Between the bus handler, the server's threads and the encoder's thread; held only to move
  // a block or a listener in or out.
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Block> queue_;
  std::vector<Listener> joining_;
  bool stopping_ = false;

  // The encoder's thread's own.
  std::unique_ptr<OggOpusEncoder> encoder_;
  std::vector<Listener> listening_;
  std::string headers_;  // the stream's header pages, for listeners joining later
  bool collectingHeaders_ = false;
  Clock::time_point start_;  // of the stream, for keeping pace with the clock
  uint64_t frames_ = 0;      // written so far

  // The programme's latest format, as the bus handler last saw it: a new stream starts at it.
  std::atomic<int> rate_{kDefaultRate};
  std::atomic<int> channels_{2};

  std::atomic<std::size_t> listeners_{0};
  std::atomic<uint64_t> dropped_{0};
  std::atomic<uint64_t> pages_{0};

  std::thread thread_;
};

}  // namespace calvora::ctl
