#include "ListenFeed.h"

#include <iterator>

#include "OggOpusEncoder.h"

namespace calvora::ctl {

namespace {

// The stream's pages go out at least every 200 ms, so a player starts soon and stays fed.
constexpr int kListenPageDelayMs = 200;

int64_t Frames(std::chrono::nanoseconds span, int rate) {
  return span.count() * rate / 1'000'000'000;
}

}  // namespace

ListenFeed::ListenFeed(int bitrate) : bitrate_(bitrate), thread_([this] { Run(); }) {}

ListenFeed::~ListenFeed() {
  Close();
}

void ListenFeed::Close() {
  {
    std::lock_guard lock(mutex_);
    if (stopping_)
      return;
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable())
    thread_.join();
  // The thread has ended: what it held is this thread's now.
  std::vector<Listener> all = std::move(listening_);
  {
    std::lock_guard lock(mutex_);
    std::move(joining_.begin(), joining_.end(), std::back_inserter(all));
    joining_.clear();
  }
  for (Listener& listener : all)
    if (listener.end)
      listener.end();
  listeners_ = 0;
  encoder_.reset();
}

void ListenFeed::Join(Sink sink, End end) {
  {
    std::lock_guard lock(mutex_);
    if (!stopping_) {
      joining_.push_back({std::move(sink), std::move(end)});
      ++listeners_;
      end = {};
    }
  }
  if (end)  // the feed has closed: the stream ends at once
    end();
  wake_.notify_one();
}

void ListenFeed::OnAudio(int sampleRate, int channels, std::span<const int16_t> samples,
                         Clock::time_point now) {
  if (sampleRate <= 0 || channels <= 0)
    return;
  rate_ = sampleRate;
  channels_ = channels;
  if (listeners_.load() == 0)
    return;
  {
    std::lock_guard lock(mutex_);
    if (queue_.size() >= kQueuedAtMost) {
      ++dropped_;
      return;
    }
    queue_.push_back({sampleRate, channels, now, {samples.begin(), samples.end()}});
  }
  wake_.notify_one();
}

ListenFeed::Figures ListenFeed::Read() const {
  return {listeners_.load(), dropped_.load(), pages_.load()};
}

void ListenFeed::Run() {
  std::deque<Block> blocks;
  std::vector<Listener> joined;
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    wake_.wait_for(lock, kTickPeriod,
                   [this] { return stopping_ || !queue_.empty() || !joining_.empty(); });
    if (stopping_)
      break;
    blocks.swap(queue_);
    joined.swap(joining_);
    lock.unlock();

    const Clock::time_point now = Clock::now();
    if (!joined.empty() && (encoder_ || StartStream(now))) {
      for (Listener& listener : joined) {
        listener.gone = !listener.sink(headers_);
        listening_.push_back(std::move(listener));
      }
    } else if (!joined.empty()) {  // no encoder could be made: the streams end at once
      for (Listener& listener : joined)
        if (listener.end)
          listener.end();
      listeners_ -= joined.size();
    }
    joined.clear();
    for (const Block& block : blocks)
      if (encoder_)
        Encode(block);
    blocks.clear();
    if (encoder_)
      FillSilence(now);
    RemoveGone();
    if (listening_.empty())
      encoder_.reset();  // nobody listens: nothing is encoded

    lock.lock();
  }
}

bool ListenFeed::StartStream(Clock::time_point now) {
  headers_.clear();
  collectingHeaders_ = true;
  encoder_ = std::make_unique<OggOpusEncoder>(
      rate_.load(), channels_.load(), bitrate_, kListenPageDelayMs,
      [this](const unsigned char* bytes, std::size_t size) {
        std::string page(reinterpret_cast<const char*>(bytes), size);
        if (collectingHeaders_)
          headers_ += page;
        else
          SendPage(page);
        ++pages_;
        return true;
      });
  const bool started = encoder_->FlushHeaders();
  collectingHeaders_ = false;
  if (!started) {
    encoder_.reset();
    return false;
  }
  start_ = now;
  frames_ = 0;
  return true;
}

int64_t ListenFeed::FramesDue(Clock::time_point now) const {
  return Frames(now - start_, encoder_->SampleRate());
}

void ListenFeed::Encode(const Block& block) {
  if (block.rate != encoder_->SampleRate() || block.channels != encoder_->Channels()) {
    EndStream();
    return;
  }
  const auto frames = static_cast<int64_t>(block.samples.size()) / block.channels;
  if (static_cast<int64_t>(frames_) + frames >
      FramesDue(block.at) + Frames(kAheadAtMost, block.rate))
    return;  // a burst: the stream would run far ahead of the clock
  encoder_->Write(block.samples);
  frames_ += static_cast<uint64_t>(frames);
  if (!encoder_->Ok())
    EndStream();
}

void ListenFeed::FillSilence(Clock::time_point now) {
  const int rate = encoder_->SampleRate();
  const int64_t behind = FramesDue(now) - static_cast<int64_t>(frames_);
  if (behind <= Frames(kFillBehind, rate))
    return;
  // Up to a little behind the clock, so that blocks that come late still have their place.
  const int64_t fill = behind - Frames(kFillBehind, rate) / 2;
  encoder_->WriteSilence(static_cast<std::size_t>(fill));
  frames_ += static_cast<uint64_t>(fill);
  if (!encoder_->Ok())
    EndStream();
}

void ListenFeed::EndStream() {
  if (encoder_->Ok())
    encoder_->Finish();  // the last page goes to every listener
  for (Listener& listener : listening_)
    if (!listener.gone && listener.end)
      listener.end();
  listeners_ -= listening_.size();
  listening_.clear();
  encoder_.reset();
}

void ListenFeed::SendPage(const std::string& page) {
  for (Listener& listener : listening_)
    if (!listener.gone && !listener.sink(page))
      listener.gone = true;
}

void ListenFeed::RemoveGone() {
  const std::size_t removed =
      std::erase_if(listening_, [](const Listener& listener) { return listener.gone; });
  listeners_ -= removed;
}

}  // namespace calvora::ctl
