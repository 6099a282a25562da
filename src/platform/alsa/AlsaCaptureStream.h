#pragma once
// One open ALSA capture device and its capture thread. The thread reads 10 ms periods from
// ALSA, copies them into the oldest queued block and, once a block is full, marks it done
// through the done callback; it does nothing else. Every ALSA call on a running stream is made
// on that thread; the owner's thread starts and joins it. The block queue is the one thing
// both threads touch, and a small mutex guards it: the owner queues and takes blocks back while
// the thread fills them, and Reset must know that the thread has let go of every block before
// the owner releases them.
//
// Audio recorded while the owner has no block queued is thrown away, as on any device, but
// never in silence: it is counted (Discarded), and the owner's next Add warns on stderr with
// the amount.
//
// An overrun is recovered on the capture thread without stopping. A device that fails or
// vanishes while capturing returns every queued block, and from then on the block operations
// fail with its code, which is how the owner learns of it.
#include <alsa/asoundlib.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/WaveInput.h"

namespace calvora::platform::alsa {

class AlsaCaptureStream {
 public:
  // Opens the device to record in the format, in periods of 10 ms with a few of them buffered
  // by ALSA; stream is set only when it opens.
  static Result Open(const std::string& device, const WaveFormat& format, WaveDoneCallback onDone,
                     std::unique_ptr<AlsaCaptureStream>& stream);
  // Whether the device would record in the format: opened, asked and closed again.
  static Result Query(const std::string& device, const WaveFormat& format);

  ~AlsaCaptureStream();
  AlsaCaptureStream(const AlsaCaptureStream&) = delete;
  AlsaCaptureStream& operator=(const AlsaCaptureStream&) = delete;

  Result Start();
  Result Prepare(WaveHeader& block);
  Result Add(WaveHeader& block);
  Result Unprepare(WaveHeader& block);
  // Stops and returns every queued block.
  Result Reset();
  // Stops; the block being filled goes back with what it holds, the others stay queued.
  Result Stop();
  // Whether the stream may be closed now (no block queued); warns of audio thrown away since
  // the last warning when it may.
  Result ReadyToClose();
  uint64_t Discarded() const { return discarded_.load(std::memory_order_relaxed); }

 private:
  AlsaCaptureStream(snd_pcm_t* pcm, snd_pcm_uframes_t periodFrames, uint32_t frameBytes,
                    uint32_t bytesPerSecond, WaveDoneCallback onDone);

  Result Failure() const { return failure_.load(std::memory_order_acquire); }
  Result Failed(Result code);
  void Fail(int alsaError);
  void Halt();
  bool Queued(const WaveHeader& block);
  bool QueueEmpty();
  void WarnOfDiscarded();
  void ReturnBlocks(bool all);
  WaveHeader& TakeOldest();
  void TellDone(WaveHeader& block);
  static constexpr size_t kReturnedAtOnce = 8;
  void Deliver(const char* data, size_t bytes);
  void FillBlocks(const char* data, size_t bytes,
                  std::array<WaveHeader*, kReturnedAtOnce>& returned, size_t& count);
  bool Recover(int err);
  void Capture();

  snd_pcm_t* pcm_;
  const snd_pcm_uframes_t periodFrames_;
  const uint32_t frameBytes_;
  const uint32_t bytesPerSecond_;
  const WaveDoneCallback onDone_;
  std::atomic<uint64_t> discarded_{0};  // since the open
  std::atomic<uint64_t> unwarned_{0};   // since the last warning
  int wake_ = -1;
  std::thread thread_;
  std::atomic<bool> quit_{false};
  std::atomic<Result> failure_{result::kOk};
  std::mutex queueMutex_;
  std::deque<WaveHeader*> queue_;
};

}  // namespace calvora::platform::alsa
