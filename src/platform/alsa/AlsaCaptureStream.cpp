#include "platform/alsa/AlsaCaptureStream.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/alsa/AlsaCaptureFormats.h"
#include "platform/alsa/AlsaErrors.h"
#include "platform/alsa/AlsaResult.h"

namespace calvora::platform::alsa {

namespace {

using PcmHandle = std::unique_ptr<snd_pcm_t, int (*)(snd_pcm_t*)>;

// ALSA keeps this many periods of its own, ahead of the queued blocks: 160 ms in which the main
// loop may be busy elsewhere (a dialog being built, a loaded machine) before the device
// overruns. It costs no latency, as each period is read as soon as it is there; and after such
// a wait the periods read at once still fit the blocks the program keeps queued (17).
constexpr snd_pcm_uframes_t kAlsaPeriods = 16;
// Reads in one wake-up at most: a full buffer and a little more. Whatever is left wakes the
// loop again at once, after the events that waited meanwhile.
constexpr int kReadsPerWake = static_cast<int>(kAlsaPeriods) + 2;
// How often a device that has not woken the loop since the last look is read all the same.
constexpr int32_t kQuietCheckMs = 250;

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
                               DescriptorWatches& watches, Timers& timers, WaveDoneCallback onDone,
                               WaveReadyCallback onReady,
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
    // The descriptors turn ready once a whole period can be read, not before.
    snd_pcm_sw_params_set_avail_min(pcm.get(), sw, period);
    // Started explicitly by Start, never by the first read.
    snd_pcm_uframes_t boundary = 0;
    snd_pcm_sw_params_get_boundary(sw, &boundary);
    snd_pcm_sw_params_set_start_threshold(pcm.get(), sw, boundary);
    snd_pcm_sw_params(pcm.get(), sw);
  }

  const Settings settings{period, format.BlockAlign, format.AvgBytesPerSec};
  stream.reset(new AlsaCaptureStream(pcm.get(), settings, watches, timers, std::move(onDone),
                                     std::move(onReady)));
  pcm.release();  // the stream owns it now
  return result::kOk;
}

AlsaCaptureStream::AlsaCaptureStream(snd_pcm_t* pcm, const Settings& settings,
                                     DescriptorWatches& watches, Timers& timers,
                                     WaveDoneCallback onDone, WaveReadyCallback onReady)
    : pcm_(pcm),
      settings_(settings),
      watches_(watches),
      onDone_(std::move(onDone)),
      onReady_(std::move(onReady)),
      quietTimer_(timers.CreateTimer(kQuietCheckMs, [this] { QuietCheck(); })),
      period_(settings.periodFrames * settings.frameBytes) {}

AlsaCaptureStream::~AlsaCaptureStream() {
  Halt();
  snd_pcm_close(pcm_);
}

// A stream that cannot start counts as failed, so that the owner, who holds it open, hears of
// it through the block operations instead of waiting for blocks forever.
Result AlsaCaptureStream::Start() {
  if (failure_ != result::kOk)
    return failure_;
  if (running_)
    return result::kOk;
  if (snd_pcm_state(pcm_) != SND_PCM_STATE_PREPARED) {
    const int err = snd_pcm_prepare(pcm_);
    if (err < 0)
      return Failed(FailureFromAlsaError(err));
  }
  const int err = snd_pcm_start(pcm_);
  if (err < 0)
    return Failed(FailureFromAlsaError(err));
  running_ = true;
  readSinceCheck_ = true;
  quietTimer_->SetEnabled(true);
  if (!Watch()) {
    Halt();
    return Failed(result::kNoMemory);
  }
  return result::kOk;
}

// Has the main loop watch the device's poll descriptors; false when it cannot.
bool AlsaCaptureStream::Watch() {
  const int count = snd_pcm_poll_descriptors_count(pcm_);
  if (count <= 0)
    return false;
  descriptors_.assign(static_cast<size_t>(count), pollfd{});
  if (snd_pcm_poll_descriptors(pcm_, descriptors_.data(), static_cast<unsigned>(count)) != count)
    return false;
  for (const pollfd& descriptor : descriptors_) {
    for (const auto& [bits, event] : {std::pair{POLLIN, DescriptorEvent::kReadable},
                                      std::pair{POLLOUT, DescriptorEvent::kWritable}}) {
      if ((descriptor.events & bits) == 0)
        continue;
      std::unique_ptr<DescriptorWatch> watch = watches_.Watch(
          descriptor.fd, event, [this, ready = static_cast<short>(bits)] { DeviceReady(ready); });
      if (!watch)
        return false;
      watching_.push_back(std::move(watch));
    }
  }
  return !watching_.empty();
}

Result AlsaCaptureStream::Prepare(WaveHeader& block) {
  if (failure_ != result::kOk)
    return failure_;
  if (block.Data == nullptr || block.BufferLength == 0)
    return result::kInvalidParam;
  block.Flags |= wave_header::kPrepared;
  return result::kOk;
}

Result AlsaCaptureStream::Add(WaveHeader& block) {
  if (failure_ != result::kOk)
    return failure_;
  if ((block.Flags & wave_header::kPrepared) == 0)
    return result::kUnprepared;
  if ((block.Flags & wave_header::kInQueue) != 0)
    return result::kStillPlaying;
  WarnOfLosses();  // a fresh block ends any stretch without one
  block.BytesRecorded = 0;
  block.Flags = (block.Flags & ~wave_header::kDone) | wave_header::kInQueue;
  queue_.push_back(&block);
  return result::kOk;
}

Result AlsaCaptureStream::Unprepare(WaveHeader& block) {
  if (failure_ != result::kOk)
    return failure_;
  if ((block.Flags & wave_header::kInQueue) != 0)
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
  if (!queue_.empty())
    return result::kStillPlaying;
  WarnOfLosses();
  return result::kOk;
}

// Stops watching and recording; the queue stays as it is.
void AlsaCaptureStream::Halt() {
  watching_.clear();
  quietTimer_->SetEnabled(false);
  if (running_)
    snd_pcm_drop(pcm_);
  running_ = false;
}

// Warns of the audio thrown away and the overruns since the last warning.
void AlsaCaptureStream::WarnOfLosses() {
  if (unwarned_ > 0) {
    const double ms = settings_.bytesPerSecond > 0
                          ? 1000.0 * static_cast<double>(unwarned_) / settings_.bytesPerSecond
                          : 0;
    std::fprintf(stderr,
                 "%s: warning: %.0f ms of captured audio (%llu bytes) thrown away: no capture "
                 "block was queued in time\n",
                 program_invocation_short_name, ms, static_cast<unsigned long long>(unwarned_));
    unwarned_ = 0;
  }
  if (unwarnedOverruns_ > 0) {
    std::fprintf(stderr,
                 "%s: warning: the capture device overran %llu time(s) and was restarted: the "
                 "program read it too late, and the audio of that moment is lost\n",
                 program_invocation_short_name, static_cast<unsigned long long>(unwarnedOverruns_));
    unwarnedOverruns_ = 0;
  }
}

// Returns every queued block, or only a partly filled oldest one.
void AlsaCaptureStream::ReturnBlocks(bool all) {
  while (!queue_.empty() && (all || queue_.front()->BytesRecorded > 0)) {
    TellDone(TakeOldest());
    if (!all)
      break;
  }
}

// The oldest block leaves the queue, not yet told done.
WaveHeader& AlsaCaptureStream::TakeOldest() {
  WaveHeader* block = queue_.front();
  queue_.pop_front();
  block->Flags = (block->Flags & ~wave_header::kInQueue) | wave_header::kDone;
  return *block;
}

void AlsaCaptureStream::TellDone(WaveHeader& block) {
  returned_ = true;
  if (onDone_)
    onDone_(block);
}

// Copies recorded bytes into the oldest blocks; a full block goes back to the owner.
void AlsaCaptureStream::FillBlocks(const char* data, size_t bytes) {
  while (bytes > 0 && !queue_.empty()) {
    WaveHeader* block = queue_.front();
    const size_t room = block->BufferLength - block->BytesRecorded;
    const size_t n = std::min(room, bytes);
    std::memcpy(block->Data + block->BytesRecorded, data, n);
    block->BytesRecorded += static_cast<uint32_t>(n);
    data += n;
    bytes -= n;
    if (block->BytesRecorded == block->BufferLength)
      TellDone(TakeOldest());
  }
  discarded_ += bytes;
  unwarned_ += bytes;
}

void AlsaCaptureStream::Fail(int alsaError) {
  failure_ = FailureFromAlsaError(alsaError);
  Halt();
  ReturnBlocks(true);
}

Result AlsaCaptureStream::Failed(Result code) {
  failure_ = code;
  return code;
}

// Puts a stream back to work after an overrun or a suspend; false when it cannot be. Never
// waits: the main loop must not stall on a device that is still waking up, which is then
// prepared afresh like after an overrun.
bool AlsaCaptureStream::Recover(int err) {
  if (err == -EPIPE) {
    ++overruns_;
    ++unwarnedOverruns_;
  }
  if (err == -ESTRPIPE && snd_pcm_resume(pcm_) >= 0)
    return true;
  err = snd_pcm_prepare(pcm_);
  if (err >= 0)
    err = snd_pcm_start(pcm_);
  if (err < 0) {
    Fail(err);
    return false;
  }
  return true;
}

// Reads what the device has, a period at a time, until it has no more for now.
void AlsaCaptureStream::ReadPeriods() {
  for (int reads = 0; reads < kReadsPerWake; ++reads) {
    const snd_pcm_sframes_t got = snd_pcm_readi(pcm_, period_.data(), settings_.periodFrames);
    if (got == -EAGAIN || got == 0)
      return;
    if (got == -EPIPE || got == -ESTRPIPE) {
      if (!Recover(static_cast<int>(got)))
        return;
      continue;
    }
    if (got < 0) {
      Fail(static_cast<int>(got));
      return;
    }
    readSinceCheck_ = true;
    FillBlocks(period_.data(), static_cast<size_t>(got) * settings_.frameBytes);
  }
}

// A watched descriptor is ready. ALSA's revents says what that means for the stream and takes
// away what made it ready (a plugin's descriptor may turn ready without a period to read); the
// read then reports data and errors alike. A descriptor that keeps turning ready with nothing
// to read (a sound server's plugin whose server died) is read by the quiet check. A device of
// one descriptor (most are) is ready as the main loop says; only one of several is polled
// again, to learn the state of the others.
void AlsaCaptureStream::DeviceReady(short ready) {
  for (pollfd& descriptor : descriptors_)
    descriptor.revents = 0;
  if (descriptors_.size() == 1)
    descriptors_.front().revents = ready;
  else if (poll(descriptors_.data(), descriptors_.size(), 0) < 0 && errno != EINTR)
    Fail(-errno);
  if (failure_ == result::kOk) {
    unsigned short revents = 0;
    snd_pcm_poll_descriptors_revents(pcm_, descriptors_.data(),
                                     static_cast<unsigned>(descriptors_.size()), &revents);
    if ((revents & (POLLIN | POLLERR | POLLHUP | POLLNVAL)) != 0)
      ReadPeriods();
  }
  TellReady();
}

// The device has given no audio for a while: a read says whether it still works, and a
// failure reaches the owner as from a wake-up.
void AlsaCaptureStream::QuietCheck() {
  if (readSinceCheck_) {
    readSinceCheck_ = false;
    return;
  }
  ReadPeriods();
  TellReady();
}

// Tells the owner of the blocks returned since the last time, if any. Called last: the owner
// may stop and close this stream from inside the callback, so nothing of the stream is touched
// afterwards. The copy keeps the callback alive while it runs.
void AlsaCaptureStream::TellReady() {
  if (!returned_)
    return;
  returned_ = false;
  const WaveReadyCallback ready = onReady_;
  if (ready)
    ready();
}

}  // namespace calvora::platform::alsa
