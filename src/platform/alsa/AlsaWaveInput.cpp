#include "platform/alsa/AlsaWaveInput.h"

#include <alsa/asoundlib.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <set>
#include <thread>

#include "platform/Utf8Text.h"
#include "platform/alsa/AlsaDeclaredDevices.h"
#include "platform/alsa/AlsaErrors.h"
#include "platform/alsa/AlsaResult.h"
#include "platform/alsa/JackServerPresence.h"
#include "platform/alsa/PulseServerIdentity.h"

namespace calvora::platform::alsa {

namespace {

constexpr size_t kMaxNameLength = 32;
// The plugin type of this program's virtual capture devices.
constexpr const char* kVirtualCaptureType = "calvora_capture";
// JACK's capture device, listed only while a JACK server runs (JackServerPresence.h).
constexpr const char* kJackType = "jack";
constexpr const char* kPulseType = "pulse";
constexpr const char* kPulseAudio = "PulseAudio";
// ALSA keeps this many periods of its own, ahead of the queued blocks.
constexpr snd_pcm_uframes_t kAlsaPeriods = 8;
// How long the capture thread waits for data before it looks at its stop request again.
constexpr int kPollTimeoutMs = 100;
// How often, and how far apart, a suspended device is asked to resume: up to a second.
constexpr int kResumeTries = 100;
constexpr useconds_t kResumeWaitUs = 10000;

// A failure must read as a failure, whatever ALSA's number was.
Result FailureCode(int alsaError) {
  const Result code = FromAlsaError(alsaError);
  return code == result::kOk ? result::kError : code;
}

// Trimmed of blanks and control characters, at most maxChars characters; a cut that ends on a
// blank leaves no blank at the end either.
std::string Trimmed(const std::string& name, size_t maxChars) {
  return std::string(TrimBlanksAndControls(CutToChars(TrimBlanksAndControls(name), maxChars)));
}

// Makes a name distinct from those already taken, keeping it within kMaxNameLength.
std::string Distinct(const std::string& name, std::set<std::string>& taken) {
  std::string candidate = name;
  for (int n = 2; taken.count(candidate) != 0; ++n) {
    const std::string suffix = " (" + std::to_string(n) + ")";
    candidate = Trimmed(name, kMaxNameLength - suffix.size()) + suffix;
  }
  taken.insert(candidate);
  return candidate;
}

std::string FirstLine(const char* text) {
  if (text == nullptr)
    return {};
  const char* end = std::strchr(text, '\n');
  return end ? std::string(text, end) : std::string(text);
}

// Hardware capture devices, one per card and PCM device that can record.
void ListHardware(std::vector<AlsaWaveInput::Device>& out) {
  int card = -1;
  while (snd_card_next(&card) >= 0 && card >= 0) {
    snd_ctl_t* ctl = nullptr;
    const std::string ctlName = "hw:" + std::to_string(card);
    if (snd_ctl_open(&ctl, ctlName.c_str(), 0) < 0)
      continue;
    snd_ctl_card_info_t* cardInfo = nullptr;
    snd_ctl_card_info_alloca(&cardInfo);
    if (snd_ctl_card_info(ctl, cardInfo) < 0) {
      snd_ctl_close(ctl);
      continue;
    }
    const std::string cardName = snd_ctl_card_info_get_name(cardInfo);
    int pcmDevice = -1;
    while (snd_ctl_pcm_next_device(ctl, &pcmDevice) >= 0 && pcmDevice >= 0) {
      snd_pcm_info_t* info = nullptr;
      snd_pcm_info_alloca(&info);
      snd_pcm_info_set_device(info, static_cast<unsigned>(pcmDevice));
      snd_pcm_info_set_subdevice(info, 0);
      snd_pcm_info_set_stream(info, SND_PCM_STREAM_CAPTURE);
      if (snd_ctl_pcm_info(ctl, info) < 0)
        continue;
      const std::string address = std::to_string(card) + "," + std::to_string(pcmDevice);
      out.push_back(
          {cardName + ": " + snd_pcm_info_get_name(info), "hw:" + address, "plughw:" + address});
    }
    snd_ctl_close(ctl);
  }
}

// The devices the configuration declares: "default", and those with a description (JACK's only
// while a JACK server runs). Those of this program's virtual card have no other sign of coming and
// going than their own files, so they are probed on every refresh; probing them costs no more than
// reading those files.
void ListConfigured(snd_config_t* top, std::vector<AlsaWaveInput::Device>& out) {
  void** hints = nullptr;
  if (snd_device_name_hint(-1, "pcm", &hints) < 0)
    return;
  for (void** hint = hints; *hint != nullptr; ++hint) {
    char* name = snd_device_name_get_hint(*hint, "NAME");
    char* description = snd_device_name_get_hint(*hint, "DESC");
    char* direction = snd_device_name_get_hint(*hint, "IOID");
    const bool canRecord = direction == nullptr || std::strcmp(direction, "Input") == 0;
    // Names with arguments are the per-card variants of the hardware listed above; "null"
    // records nothing but zeros.
    const std::string type = name != nullptr ? DeclaredType(top, "pcm", name) : std::string();
    if (name != nullptr && canRecord && std::strchr(name, ':') == nullptr &&
        std::strcmp(name, "null") != 0 && (type != kJackType || JackServerRuns())) {
      const std::string pcm = name;
      std::string shown = pcm == "default" || description == nullptr ? pcm : FirstLine(description);
      // The pulse plugin's device is described as PulseAudio's whoever serves it.
      if (type == kPulseType && shown.rfind(kPulseAudio, 0) == 0)
        shown = PulseServerName() + shown.substr(std::strlen(kPulseAudio));
      out.push_back({shown, pcm, pcm, type == kVirtualCaptureType});
    }
    free(name);
    free(description);
    free(direction);
  }
  snd_device_name_free_hint(hints);
}

class Pcm {
 public:
  ~Pcm() {
    if (handle)
      snd_pcm_close(handle);
  }
  snd_pcm_t* handle = nullptr;
};

// Sets access, sample format, channels and rate; the rate must be met exactly.
int SetFormat(snd_pcm_t* pcm, snd_pcm_hw_params_t* params, const WaveFormat& format) {
  int err = snd_pcm_hw_params_set_access(pcm, params, SND_PCM_ACCESS_RW_INTERLEAVED);
  if (err < 0)
    return err;
  err = snd_pcm_hw_params_set_format(
      pcm, params, format.BitsPerSample == 8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE);
  if (err < 0)
    return err;
  err = snd_pcm_hw_params_set_channels(pcm, params, format.Channels);
  if (err < 0)
    return err;
  return snd_pcm_hw_params_set_rate(pcm, params, format.SamplesPerSec, 0);
}

// Opens a device to record from it; a failure is reported once with ALSA's reason.
int OpenToRecord(Pcm& pcm, const std::string& name) {
  ForgetAlsaMessage();
  const int err = snd_pcm_open(&pcm.handle, name.c_str(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK);
  if (err < 0) {
    ReportOpenFailure("capture", name, err);
  } else {
    ForgetOpenFailure("capture", name);
  }
  return err;
}

bool Supported(const WaveFormat& format) {
  return format.FormatTag == kWaveFormatPcm && (format.Channels == 1 || format.Channels == 2) &&
         (format.BitsPerSample == 8 || format.BitsPerSample == 16) && format.SamplesPerSec > 0 &&
         format.BlockAlign == format.Channels * format.BitsPerSample / 8;
}

}  // namespace

// One open device and its capture thread.
class AlsaWaveInput::Stream {
 public:
  Stream(snd_pcm_t* pcm, snd_pcm_uframes_t periodFrames, uint32_t frameBytes,
         uint32_t bytesPerSecond, WaveDoneCallback onDone)
      : pcm_(pcm),
        periodFrames_(periodFrames),
        frameBytes_(frameBytes),
        bytesPerSecond_(bytesPerSecond),
        onDone_(std::move(onDone)) {
    wake_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  }

  ~Stream() {
    Halt();
    snd_pcm_close(pcm_);
    if (wake_ >= 0)
      close(wake_);
  }

  Result Failure() const { return failure_.load(std::memory_order_acquire); }

  // A stream that cannot start counts as failed, so that the owner, who holds it open,
  // hears of it through the block operations instead of waiting for blocks forever.
  Result Start() {
    if (Failure() != result::kOk)
      return Failure();
    if (thread_.joinable())
      return result::kOk;
    if (wake_ < 0)
      return Failed(result::kNoMemory);
    if (snd_pcm_state(pcm_) != SND_PCM_STATE_PREPARED) {
      const int err = snd_pcm_prepare(pcm_);
      if (err < 0)
        return Failed(FailureCode(err));
    }
    const int err = snd_pcm_start(pcm_);
    if (err < 0)
      return Failed(FailureCode(err));
    quit_.store(false);
    try {
      thread_ = std::thread([this] { Capture(); });
    } catch (...) {
      snd_pcm_drop(pcm_);
      return Failed(result::kNoMemory);
    }
    return result::kOk;
  }

  // Stops the capture thread and the device; the queue stays as it is.
  void Halt() {
    if (thread_.joinable()) {
      quit_.store(true);
      const uint64_t one = 1;
      [[maybe_unused]] const ssize_t n = write(wake_, &one, sizeof one);
      thread_.join();
    }
    snd_pcm_drop(pcm_);
  }

  Result Add(WaveHeader& block) {
    std::lock_guard lock(queueMutex_);
    // Looked at under the lock: a failing capture thread marks the failure before it
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

  bool Queued(const WaveHeader& block) {
    std::lock_guard lock(queueMutex_);
    return (block.Flags & wave_header::kInQueue) != 0;
  }

  bool QueueEmpty() {
    std::lock_guard lock(queueMutex_);
    return queue_.empty();
  }

  uint64_t Discarded() const { return discarded_.load(std::memory_order_relaxed); }

  // On the owner's thread: warns of the audio thrown away since the last warning.
  void WarnOfDiscarded() {
    const uint64_t bytes = unwarned_.exchange(0, std::memory_order_relaxed);
    if (bytes == 0)
      return;
    const double ms =
        bytesPerSecond_ > 0 ? 1000.0 * static_cast<double>(bytes) / bytesPerSecond_ : 0;
    std::fprintf(stderr,
                 "%s: warning: %.0f ms of captured audio (%llu bytes) thrown away: no capture "
                 "block was queued in time\n",
                 program_invocation_short_name, ms, static_cast<unsigned long long>(bytes));
  }

  // Returns every queued block, or only a partly filled oldest one.
  void ReturnBlocks(bool all) {
    std::lock_guard lock(queueMutex_);
    while (!queue_.empty() && (all || queue_.front()->BytesRecorded > 0)) {
      ReturnOldest();
      if (!all)
        break;
    }
  }

 private:
  // Called with the queue locked.
  void ReturnOldest() { TellDone(TakeOldest()); }

  // Called with the queue locked: the oldest block leaves the queue, not yet told done.
  WaveHeader& TakeOldest() {
    WaveHeader* block = queue_.front();
    queue_.pop_front();
    block->Flags = (block->Flags & ~wave_header::kInQueue) | wave_header::kDone;
    return *block;
  }

  void TellDone(WaveHeader& block) {
    if (onDone_)
      onDone_(block);
  }

  // Copies recorded bytes into the oldest blocks; a full block goes back to the owner. The
  // owner hears of the full blocks only once the queue is unlocked: it wakes at once to
  // collect them and queue fresh ones, and would otherwise have to sleep again on the lock.
  // The blocks are the owner's from then on, and only the owner releases them; the capture
  // thread no longer touches them once it has told them done.
  void Deliver(const char* data, size_t bytes) {
    std::array<WaveHeader*, kReturnedAtOnce> returned{};
    size_t count = 0;
    {
      std::lock_guard lock(queueMutex_);
      FillBlocks(data, bytes, returned, count);
    }
    for (size_t i = 0; i < count; ++i)
      TellDone(*returned[i]);
  }

  static constexpr size_t kReturnedAtOnce = 8;

  // Called with the queue locked. The full blocks are told done in queue order: past
  // kReturnedAtOnce in one read (blocks far smaller than a period), those held so far are
  // told done at once, under the lock, before the next is held.
  void FillBlocks(const char* data, size_t bytes,
                  std::array<WaveHeader*, kReturnedAtOnce>& returned, size_t& count) {
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

  void Fail(int alsaError) {
    failure_.store(FailureCode(alsaError), std::memory_order_release);
    ReturnBlocks(true);
  }

  Result Failed(Result code) {
    failure_.store(code, std::memory_order_release);
    return code;
  }

  // Puts a stream back to work after an overrun or a suspend; false when it cannot be.
  bool Recover(int err) {
    if (err == -ESTRPIPE) {
      // A device still waking up asks to be asked again. The wait is bounded, and a stop
      // request ends it, so that Halt never waits on a device that does not come back;
      // after that the stream is prepared afresh like after an overrun.
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

  void Capture() {
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
      // Read on data and on errors alike: the read reports what went wrong. A quiet
      // timeout also reads, so that a device that stopped waking anyone is noticed.
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

AlsaWaveInput::AlsaWaveInput() {
  InstallAlsaErrorHandler();
}
AlsaWaveInput::~AlsaWaveInput() = default;

uint32_t AlsaWaveInput::DeviceCount() {
  // Listed and probed afresh only when the watch sees a change: the supervision refreshes
  // twice a second while a card is offline, and probing a sound server's or another plugin's
  // device costs a connection attempt each time.
  const bool changed = watch_.Changed();
  if (listed_ && !changed)
    return static_cast<uint32_t>(devices_.size());
  probed_.clear();
  std::vector<Device> found;
  ListHardware(found);
  ListConfigured(watch_.Config(), found);
  devices_.clear();
  std::set<std::string> taken;
  for (Device& device : found) {
    device.Name = Trimmed(device.Name, kMaxNameLength);
    if (device.Name.empty())
      device.Name = Trimmed(device.OpenName, kMaxNameLength);
    device.Name = Distinct(device.Name, taken);
    devices_.push_back(std::move(device));
  }
  listed_ = true;
  return static_cast<uint32_t>(devices_.size());
}

bool AlsaWaveInput::Listed(uint32_t device) {
  if (!listed_)
    DeviceCount();
  return device < devices_.size();
}

std::string AlsaWaveInput::AlsaName(uint32_t device) const {
  return device < devices_.size() ? devices_[device].OpenName : std::string();
}

Result AlsaWaveInput::GetDeviceCaps(uint32_t device, WaveInCaps& caps) {
  if (!Listed(device))
    return result::kBadDeviceId;
  const auto probed = probed_.find(devices_[device].ProbeName);
  if (probed != probed_.end() && !devices_[device].ProbedEveryRefresh) {
    caps = probed->second.caps;
    return probed->second.result;
  }
  const Result result = ProbeCaps(device, caps);
  // A busy device may be free at the next refresh; other answers hold until a change.
  if (result != result::kAllocated)
    probed_[devices_[device].ProbeName] = {result, caps};
  return result;
}

Result AlsaWaveInput::ProbeCaps(uint32_t device, WaveInCaps& caps) {
  const std::string& probeName = devices_[device].ProbeName;
  Pcm pcm;
  int err = snd_pcm_open(&pcm.handle, probeName.c_str(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK);
  if (err == -EBUSY) {
    // Taken, most likely by this program's own capture: what it reported before still holds.
    const auto known = knownCaps_.find(probeName);
    if (known != knownCaps_.end()) {
      caps = known->second;
      caps.Name = devices_[device].Name;
      return result::kOk;
    }
  }
  if (err < 0)
    return FailureCode(err);
  snd_pcm_hw_params_t* any = nullptr;
  snd_pcm_hw_params_alloca(&any);
  err = snd_pcm_hw_params_any(pcm.handle, any);
  if (err < 0)
    return FailureCode(err);

  struct Probe {
    uint32_t Rate;
    uint16_t Channels;
    uint16_t Bits;
    uint32_t Bit;
  };
  namespace f = wave_format;
  static constexpr std::array<Probe, 20> kProbes = {{
      {11025, 1, 8, f::k1M08},   {11025, 2, 8, f::k1S08},   {11025, 1, 16, f::k1M16},
      {11025, 2, 16, f::k1S16},  {22050, 1, 8, f::k2M08},   {22050, 2, 8, f::k2S08},
      {22050, 1, 16, f::k2M16},  {22050, 2, 16, f::k2S16},  {44100, 1, 8, f::k4M08},
      {44100, 2, 8, f::k4S08},   {44100, 1, 16, f::k4M16},  {44100, 2, 16, f::k4S16},
      {48000, 1, 8, f::k48M08},  {48000, 2, 8, f::k48S08},  {48000, 1, 16, f::k48M16},
      {48000, 2, 16, f::k48S16}, {96000, 1, 8, f::k96M08},  {96000, 2, 8, f::k96S08},
      {96000, 1, 16, f::k96M16}, {96000, 2, 16, f::k96S16},
  }};
  snd_pcm_hw_params_t* trial = nullptr;
  snd_pcm_hw_params_alloca(&trial);
  caps = {};
  caps.Name = devices_[device].Name;
  for (const Probe& probe : kProbes) {
    snd_pcm_hw_params_copy(trial, any);
    WaveFormat format;
    format.Channels = probe.Channels;
    format.BitsPerSample = probe.Bits;
    format.SamplesPerSec = probe.Rate;
    if (SetFormat(pcm.handle, trial, format) >= 0)
      caps.Formats |= probe.Bit;
  }
  unsigned channels = 0;
  if (snd_pcm_hw_params_get_channels_max(any, &channels) >= 0)
    caps.Channels = static_cast<uint16_t>(std::min(channels, 0xFFFFu));
  knownCaps_[probeName] = caps;
  return result::kOk;
}

Result AlsaWaveInput::QueryFormat(uint32_t device, const WaveFormat& format) {
  if (!Listed(device))
    return result::kBadDeviceId;
  if (!Supported(format))
    return result::kBadFormat;
  Pcm pcm;
  int err = OpenToRecord(pcm, devices_[device].OpenName);
  if (err < 0)
    return FailureCode(err);
  snd_pcm_hw_params_t* params = nullptr;
  snd_pcm_hw_params_alloca(&params);
  err = snd_pcm_hw_params_any(pcm.handle, params);
  if (err >= 0 && SetFormat(pcm.handle, params, format) < 0)
    return result::kBadFormat;
  return err < 0 ? FailureCode(err) : result::kOk;
}

Result AlsaWaveInput::Open(WaveInHandle& handle, uint32_t device, const WaveFormat& format,
                           WaveDoneCallback onDone) {
  if (!Listed(device))
    return result::kBadDeviceId;
  if (!Supported(format))
    return result::kBadFormat;
  Pcm pcm;
  int err = OpenToRecord(pcm, devices_[device].OpenName);
  if (err < 0)
    return FailureCode(err);

  snd_pcm_hw_params_t* params = nullptr;
  snd_pcm_hw_params_alloca(&params);
  err = snd_pcm_hw_params_any(pcm.handle, params);
  if (err < 0)
    return FailureCode(err);
  if (SetFormat(pcm.handle, params, format) < 0)
    return result::kBadFormat;
  // Periods of 10 ms, and a few of them buffered by ALSA.
  snd_pcm_uframes_t period = std::max<snd_pcm_uframes_t>(format.SamplesPerSec / 100, 1);
  int dir = 0;
  err = snd_pcm_hw_params_set_period_size_near(pcm.handle, params, &period, &dir);
  if (err < 0)
    return FailureCode(err);
  snd_pcm_uframes_t buffer = period * kAlsaPeriods;
  err = snd_pcm_hw_params_set_buffer_size_near(pcm.handle, params, &buffer);
  if (err < 0)
    return FailureCode(err);
  err = snd_pcm_hw_params(pcm.handle, params);
  if (err < 0)
    return FailureCode(err);
  snd_pcm_hw_params_get_period_size(params, &period, &dir);

  snd_pcm_sw_params_t* sw = nullptr;
  snd_pcm_sw_params_alloca(&sw);
  if (snd_pcm_sw_params_current(pcm.handle, sw) >= 0) {
    snd_pcm_sw_params_set_avail_min(pcm.handle, sw, period);
    // Started explicitly by Start, never by the first read.
    snd_pcm_uframes_t boundary = 0;
    snd_pcm_sw_params_get_boundary(sw, &boundary);
    snd_pcm_sw_params_set_start_threshold(pcm.handle, sw, boundary);
    snd_pcm_sw_params(pcm.handle, sw);
  }

  auto stream = std::make_unique<Stream>(pcm.handle, period, format.BlockAlign,
                                         format.AvgBytesPerSec, std::move(onDone));
  pcm.handle = nullptr;  // the stream owns it now
  handle = nextHandle_++;
  if (nextHandle_ == kNoWaveIn)
    nextHandle_ = 1;
  streams_[handle] = std::move(stream);
  return result::kOk;
}

AlsaWaveInput::Stream* AlsaWaveInput::Find(WaveInHandle handle) {
  const auto it = streams_.find(handle);
  return it == streams_.end() ? nullptr : it->second.get();
}

Result AlsaWaveInput::Start(WaveInHandle handle) {
  Stream* stream = Find(handle);
  return stream ? stream->Start() : result::kInvalidHandle;
}

Result AlsaWaveInput::PrepareHeader(WaveInHandle handle, WaveHeader& block) {
  Stream* stream = Find(handle);
  if (!stream)
    return result::kInvalidHandle;
  if (stream->Failure() != result::kOk)
    return stream->Failure();
  if (block.Data == nullptr || block.BufferLength == 0)
    return result::kInvalidParam;
  block.Flags |= wave_header::kPrepared;
  return result::kOk;
}

Result AlsaWaveInput::AddBuffer(WaveInHandle handle, WaveHeader& block) {
  Stream* stream = Find(handle);
  if (!stream)
    return result::kInvalidHandle;
  if (stream->Failure() != result::kOk)
    return stream->Failure();
  if ((block.Flags & wave_header::kPrepared) == 0)
    return result::kUnprepared;
  stream->WarnOfDiscarded();  // a fresh block ends any stretch without one
  return stream->Add(block);
}

Result AlsaWaveInput::UnprepareHeader(WaveInHandle handle, WaveHeader& block) {
  Stream* stream = Find(handle);
  if (!stream)
    return result::kInvalidHandle;
  if (stream->Failure() != result::kOk)
    return stream->Failure();
  if (stream->Queued(block))
    return result::kStillPlaying;
  block.Flags &= ~wave_header::kPrepared;
  return result::kOk;
}

Result AlsaWaveInput::Reset(WaveInHandle handle) {
  Stream* stream = Find(handle);
  if (!stream)
    return result::kInvalidHandle;
  stream->Halt();
  stream->ReturnBlocks(true);
  return result::kOk;
}

Result AlsaWaveInput::Stop(WaveInHandle handle) {
  Stream* stream = Find(handle);
  if (!stream)
    return result::kInvalidHandle;
  stream->Halt();
  // The block being filled goes back with what it holds; the others stay queued.
  stream->ReturnBlocks(false);
  return result::kOk;
}

Result AlsaWaveInput::Close(WaveInHandle handle) {
  Stream* stream = Find(handle);
  if (!stream)
    return result::kInvalidHandle;
  if (!stream->QueueEmpty())
    return result::kStillPlaying;
  stream->WarnOfDiscarded();
  streams_.erase(handle);
  return result::kOk;
}

uint64_t AlsaWaveInput::DiscardedBytes(WaveInHandle handle) {
  Stream* stream = Find(handle);
  return stream ? stream->Discarded() : 0;
}

}  // namespace calvora::platform::alsa
