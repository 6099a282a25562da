#include "platform/alsa/AlsaCaptureStream.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/alsa/AlsaCaptureFormats.h"
#include "platform/alsa/AlsaErrors.h"
#include "platform/alsa/AlsaResult.h"

namespace calvora::platform::alsa {

namespace {

using PcmHandle = std::unique_ptr<snd_pcm_t, int (*)(snd_pcm_t*)>;

// ALSA keeps this many periods of its own, ahead of the queued blocks.
constexpr snd_pcm_uframes_t kAlsaPeriods = 8;
// How long the capture thread waits for data before it looks at its stop request again.
constexpr int kPollTimeoutMs = 100;
// How often, and how far apart, a suspended device is asked to resume: up to a second.
constexpr int kResumeTries = 100;
constexpr useconds_t kResumeWaitUs = 10000;

// Opens a device to record from it; a failure is reported once with ALSA's reason.
int OpenToRecord(PcmHandle& pcm, const std::string& device) {
  ForgetAlsaMessage();
  snd_pcm_t* opened = nullptr;
  const int err = snd_pcm_open(&opened, device.c_str(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK);
  if (err < 0) {
    ReportOpenFailure("capture", device, err);
  } else {
    ForgetOpenFailure("capture", device);
    pcm.reset(opened);
  }
  return err;
}

// Opens the device to record and sets the format on params: kOk, kBadFormat when the device
// does not record in it, or the code of the failure.
Result OpenInFormat(PcmHandle& pcm, const std::string& device, const WaveFormat& format,
                    snd_pcm_hw_params_t* params) {
  int err = OpenToRecord(pcm, device);
  if (err < 0)
    return FailureFromAlsaError(err);
  err = snd_pcm_hw_params_any(pcm.get(), params);
  if (err < 0)
    return FailureFromAlsaError(err);
  return SetRecordFormat(pcm.get(), params, format) < 0 ? result::kBadFormat : result::kOk;
}

}  // namespace

Result AlsaCaptureStream::Query(const std::string& device, const WaveFormat& format) {
  PcmHandle pcm(nullptr, snd_pcm_close);
  snd_pcm_hw_params_t* params = nullptr;
  snd_pcm_hw_params_alloca(&params);
  return OpenInFormat(pcm, device, format, params);
}

Result AlsaCaptureStream::Open(const std::string& device, const WaveFormat& format,
                               WaveDoneCallback onDone,
                               std::unique_ptr<AlsaCaptureStream>& stream) {
  PcmHandle pcm(nullptr, snd_pcm_close);
  snd_pcm_hw_params_t* params = nullptr;
  snd_pcm_hw_params_alloca(&params);
  const Result inFormat = OpenInFormat(pcm, device, format, params);
  if (inFormat != result::kOk)
    return inFormat;
  snd_pcm_uframes_t period = std::max<snd_pcm_uframes_t>(format.SamplesPerSec / 100, 1);
  int dir = 0;
  int err = snd_pcm_hw_params_set_period_size_near(pcm.get(), params, &period, &dir);
  if (err < 0)
    return FailureFromAlsaError(err);
  snd_pcm_uframes_t buffer = period * kAlsaPeriods;
  err = snd_pcm_hw_params_set_buffer_size_near(pcm.get(), params, &buffer);
  if (err < 0)
    return FailureFromAlsaError(err);
  err = snd_pcm_hw_params(pcm.get(), params);
  if (err < 0)
    return FailureFromAlsaError(err);
  snd_pcm_hw_params_get_period_size(params, &period, &dir);

  snd_pcm_sw_params_t* sw = nullptr;
  snd_pcm_sw_params_alloca(&sw);
  if (snd_pcm_sw_params_current(pcm.get(), sw) >= 0) {
    snd_pcm_sw_params_set_avail_min(pcm.get(), sw, period);
    // Started explicitly by Start, never by the first read.
    snd_pcm_uframes_t boundary = 0;
    snd_pcm_sw_params_get_boundary(sw, &boundary);
    snd_pcm_sw_params_set_start_threshold(pcm.get(), sw, boundary);
    snd_pcm_sw_params(pcm.get(), sw);
  }

  stream.reset(new AlsaCaptureStream(pcm.get(), period, format.BlockAlign, format.AvgBytesPerSec,
                                     std::move(onDone)));
  pcm.release();  // the stream owns it now
  return result::kOk;
}

AlsaCaptureStream::AlsaCaptureStream(snd_pcm_t* pcm, snd_pcm_uframes_t periodFrames,
                                     uint32_t frameBytes, uint32_t bytesPerSecond,
                                     WaveDoneCallback onDone)
    : pcm_(pcm),
      periodFrames_(periodFrames),
      frameBytes_(frameBytes),
      bytesPerSecond_(bytesPerSecond),
      onDone_(std::move(onDone)) {
  wake_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

AlsaCaptureStream::~AlsaCaptureStream() {
  Halt();
  snd_pcm_close(pcm_);
  if (wake_ >= 0)
    close(wake_);
}

// A stream that cannot start counts as failed, so that the owner, who holds it open, hears of
// it through the block operations instead of waiting for blocks forever.
Result AlsaCaptureStream::Start() {
  if (Failure() != result::kOk)
    return Failure();
  if (thread_.joinable())
    return result::kOk;
  if (wake_ < 0)
    return Failed(result::kNoMemory);
  if (snd_pcm_state(pcm_) != SND_PCM_STATE_PREPARED) {
    const int err = snd_pcm_prepare(pcm_);
    if (err < 0)
      return Failed(FailureFromAlsaError(err));
  }
  const int err = snd_pcm_start(pcm_);
  if (err < 0)
    return Failed(FailureFromAlsaError(err));
  quit_.store(false);
  try {
    thread_ = std::thread([this] { Capture(); });
  } catch (...) {
    snd_pcm_drop(pcm_);
    return Failed(result::kNoMemory);
  }
  return result::kOk;
}

Result AlsaCaptureStream::Prepare(WaveHeader& block) {
  if (Failure() != result::kOk)
    return Failure();
  if (block.Data == nullptr || block.BufferLength == 0)
    return result::kInvalidParam;
  block.Flags |= wave_header::kPrepared;
  return result::kOk;
}

Result AlsaCaptureStream::Add(WaveHeader& block) {
  if (Failure() != result::kOk)
    return Failure();
  if ((block.Flags & wave_header::kPrepared) == 0)
    return result::kUnprepared;
  WarnOfDiscarded();  // a fresh block ends any stretch without one
  std::lock_guard lock(queueMutex_);
  // Looked at again under the lock: a failing capture thread marks the failure before it
  // returns the queue, so no block can slip in behind that return.
  if (Failure() != result::kOk)
    return Failure();
  if ((block.Flags & wave_header::kInQueue) != 0)
    return result::kStillPlaying;
  block.BytesRecorded = 0;
  block.Flags = (block.Flags & ~wave_header::kDone) | wave_header::kInQueue;
  queue_.push_back(&block);
  return result::kOk;
}

Result AlsaCaptureStream::Unprepare(WaveHeader& block) {
  if (Failure() != result::kOk)
    return Failure();
  if (Queued(block))
    return result::kStillPlaying;
  block.Flags &= ~wave_header::kPrepared;
  return result::kOk;
}

Result AlsaCaptureStream::Reset() {
  Halt();
  ReturnBlocks(true);
  return result::kOk;
}

Result AlsaCaptureStream::Stop() {
  Halt();
  ReturnBlocks(false);
  return result::kOk;
}

Result AlsaCaptureStream::ReadyToClose() {
  if (!QueueEmpty())
    return result::kStillPlaying;
  WarnOfDiscarded();
  return result::kOk;
}

// Stops the capture thread and the device; the queue stays as it is.
void AlsaCaptureStream::Halt() {
  if (thread_.joinable()) {
    quit_.store(true);
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(wake_, &one, sizeof one);
    thread_.join();
  }
  snd_pcm_drop(pcm_);
}

bool AlsaCaptureStream::Queued(const WaveHeader& block) {
  std::lock_guard lock(queueMutex_);
  return (block.Flags & wave_header::kInQueue) != 0;
}

bool AlsaCaptureStream::QueueEmpty() {
  std::lock_guard lock(queueMutex_);
  return queue_.empty();
}

// On the owner's thread: warns of the audio thrown away since the last warning.
void AlsaCaptureStream::WarnOfDiscarded() {
  const uint64_t bytes = unwarned_.exchange(0, std::memory_order_relaxed);
  if (bytes == 0)
    return;
  const double ms = bytesPerSecond_ > 0 ? 1000.0 * static_cast<double>(bytes) / bytesPerSecond_ : 0;
  std::fprintf(stderr,
               "%s: warning: %.0f ms of captured audio (%llu bytes) thrown away: no capture "
               "block was queued in time\n",
               program_invocation_short_name, ms, static_cast<unsigned long long>(bytes));
}

// Returns every queued block, or only a partly filled oldest one.
void AlsaCaptureStream::ReturnBlocks(bool all) {
  std::lock_guard lock(queueMutex_);
  while (!queue_.empty() && (all || queue_.front()->BytesRecorded > 0)) {
    TellDone(TakeOldest());
    if (!all)
      break;
  }
}

// Called with the queue locked: the oldest block leaves the queue, not yet told done.
WaveHeader& AlsaCaptureStream::TakeOldest() {
  WaveHeader* block = queue_.front();
  queue_.pop_front();
  block->Flags = (block->Flags & ~wave_header::kInQueue) | wave_header::kDone;
  return *block;
}

void AlsaCaptureStream::TellDone(WaveHeader& block) {
  if (onDone_)
    onDone_(block);
}

// Copies recorded bytes into the oldest blocks; a full block goes back to the owner. The owner
// hears of the full blocks only once the queue is unlocked: it wakes at once to collect them
// and queue fresh ones, and would otherwise have to sleep again on the lock. The blocks are the
// owner's from then on, and only the owner releases them; the capture thread no longer touches
// them once it has told them done.
void AlsaCaptureStream::Deliver(const char* data, size_t bytes) {
  std::array<WaveHeader*, kReturnedAtOnce> returned{};
  size_t count = 0;
  {
    std::lock_guard lock(queueMutex_);
    FillBlocks(data, bytes, returned, count);
  }
  for (size_t i = 0; i < count; ++i)
    TellDone(*returned[i]);
}

// Called with the queue locked. The full blocks are told done in queue order: past
// kReturnedAtOnce in one read (blocks far smaller than a period), those held so far are told
// done at once, under the lock, before the next is held.
void AlsaCaptureStream::FillBlocks(const char* data, size_t bytes,
                                   std::array<WaveHeader*, kReturnedAtOnce>& returned,
                                   size_t& count) {
  while (bytes > 0 && !queue_.empty()) {
    WaveHeader* block = queue_.front();
    const size_t room = block->BufferLength - block->BytesRecorded;
    const size_t n = std::min(room, bytes);
    std::memcpy(block->Data + block->BytesRecorded, data, n);
    block->BytesRecorded += static_cast<uint32_t>(n);
    data += n;
    bytes -= n;
    if (block->BytesRecorded == block->BufferLength) {
      if (count == returned.size()) {
        for (size_t i = 0; i < count; ++i)
          TellDone(*returned[i]);
        count = 0;
      }
      returned[count++] = &TakeOldest();
    }
  }
  if (bytes > 0) {
    discarded_.fetch_add(bytes, std::memory_order_relaxed);
    unwarned_.fetch_add(bytes, std::memory_order_relaxed);
  }
}

void AlsaCaptureStream::Fail(int alsaError) {
  failure_.store(FailureFromAlsaError(alsaError), std::memory_order_release);
  ReturnBlocks(true);
}

Result AlsaCaptureStream::Failed(Result code) {
  failure_.store(code, std::memory_order_release);
  return code;
}

// Puts a stream back to work after an overrun or a suspend; false when it cannot be.
bool AlsaCaptureStream::Recover(int err) {
  if (err == -ESTRPIPE) {
    // A device still waking up asks to be asked again. The wait is bounded, and a stop request
    // ends it, so that Halt never waits on a device that does not come back; after that the
    // stream is prepared afresh like after an overrun.
    for (int tries = 0; tries < kResumeTries && !quit_.load(); ++tries) {
      err = snd_pcm_resume(pcm_);
      if (err != -EAGAIN)
        break;
      usleep(kResumeWaitUs);
    }
    if (err >= 0)
      return true;
    // Being stopped: the stream is dropped and prepared again on the next start.
    if (quit_.load())
      return false;
  }
  err = snd_pcm_prepare(pcm_);
  if (err >= 0)
    err = snd_pcm_start(pcm_);
  if (err < 0) {
    Fail(err);
    return false;
  }
  return true;
}

void AlsaCaptureStream::Capture() {
  // Named, so that the thread's own figures can be told apart from the main thread's.
  pthread_setname_np(pthread_self(), "calvora-capture");
  std::vector<char> period(periodFrames_ * frameBytes_);
  const int count = snd_pcm_poll_descriptors_count(pcm_);
  if (count <= 0) {
    Fail(count < 0 ? count : -EIO);
    return;
  }
  std::vector<pollfd> fds(static_cast<size_t>(count) + 1);
  snd_pcm_poll_descriptors(pcm_, fds.data(), static_cast<unsigned>(count));
  fds.back() = {wake_, POLLIN, 0};

  while (!quit_.load()) {
    if (poll(fds.data(), fds.size(), kPollTimeoutMs) < 0 && errno != EINTR) {
      Fail(-errno);
      return;
    }
    if (quit_.load())
      return;
    if ((fds.back().revents & POLLIN) != 0) {
      // A wake-up left over from an earlier stop; taken away so that it wakes no one again.
      uint64_t wakes = 0;
      [[maybe_unused]] const ssize_t n = read(wake_, &wakes, sizeof wakes);
    }
    unsigned short revents = 0;
    snd_pcm_poll_descriptors_revents(pcm_, fds.data(), static_cast<unsigned>(count), &revents);
    // Read on data and on errors alike: the read reports what went wrong. A quiet timeout also
    // reads, so that a device that stopped waking anyone is noticed.
    for (;;) {
      const snd_pcm_sframes_t got = snd_pcm_readi(pcm_, period.data(), periodFrames_);
      if (got == -EAGAIN)
        break;
      if (got == -EPIPE || got == -ESTRPIPE) {
        if (!Recover(static_cast<int>(got)))
          return;
        continue;
      }
      if (got < 0) {
        Fail(static_cast<int>(got));
        return;
      }
      if (got == 0)
        break;
      Deliver(period.data(), static_cast<size_t>(got) * frameBytes_);
    }
  }
}

}  // namespace calvora::platform::alsa
