#include "platform/alsa/AlsaWaveInput.h"

#include <cerrno>

#include "platform/alsa/AlsaCaptureFormats.h"
#include "platform/alsa/AlsaErrors.h"
#include "platform/alsa/AlsaResult.h"

namespace calvora::platform::alsa {

AlsaWaveInput::AlsaWaveInput() {
  InstallAlsaErrorHandler();
}

AlsaWaveInput::AlsaWaveInput(DescriptorWatches& watches, Timers& timers)
    : watches_(&watches), timers_(&timers) {
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
  devices_ = CaptureDevices(watch_.Config());
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
  WaveInCaps read;
  const int err = ReadRecordFormats(probeName, read);
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
    return FailureFromAlsaError(err);
  read.Name = devices_[device].Name;
  caps = read;
  knownCaps_[probeName] = caps;
  return result::kOk;
}

Result AlsaWaveInput::QueryFormat(uint32_t device, const WaveFormat& format) {
  if (!Listed(device))
    return result::kBadDeviceId;
  if (!RecordableFormat(format))
    return result::kBadFormat;
  return AlsaCaptureStream::Query(devices_[device].OpenName, format);
}

Result AlsaWaveInput::Open(WaveInHandle& handle, uint32_t device, const WaveFormat& format,
                           WaveDoneCallback onDone, WaveReadyCallback onReady) {
  if (!Listed(device))
    return result::kBadDeviceId;
  if (!RecordableFormat(format))
    return result::kBadFormat;
  if (watches_ == nullptr || timers_ == nullptr)
    return result::kNotSupported;
  std::unique_ptr<AlsaCaptureStream> stream;
  const Result opened =
      AlsaCaptureStream::Open(devices_[device].OpenName, format, *watches_, *timers_,
                              std::move(onDone), std::move(onReady), stream);
  if (opened != result::kOk)
    return opened;
  handle = nextHandle_++;
  if (nextHandle_ == kNoWaveIn)
    nextHandle_ = 1;
  streams_[handle] = std::move(stream);
  return result::kOk;
}

AlsaCaptureStream* AlsaWaveInput::Find(WaveInHandle handle) {
  const auto it = streams_.find(handle);
  return it == streams_.end() ? nullptr : it->second.get();
}

Result AlsaWaveInput::Start(WaveInHandle handle) {
  AlsaCaptureStream* stream = Find(handle);
  return stream ? stream->Start() : result::kInvalidHandle;
}

Result AlsaWaveInput::PrepareHeader(WaveInHandle handle, WaveHeader& block) {
  AlsaCaptureStream* stream = Find(handle);
  return stream ? stream->Prepare(block) : result::kInvalidHandle;
}

Result AlsaWaveInput::AddBuffer(WaveInHandle handle, WaveHeader& block) {
  AlsaCaptureStream* stream = Find(handle);
  return stream ? stream->Add(block) : result::kInvalidHandle;
}

Result AlsaWaveInput::UnprepareHeader(WaveInHandle handle, WaveHeader& block) {
  AlsaCaptureStream* stream = Find(handle);
  return stream ? stream->Unprepare(block) : result::kInvalidHandle;
}

Result AlsaWaveInput::Reset(WaveInHandle handle) {
  AlsaCaptureStream* stream = Find(handle);
  return stream ? stream->Reset() : result::kInvalidHandle;
}

Result AlsaWaveInput::Stop(WaveInHandle handle) {
  AlsaCaptureStream* stream = Find(handle);
  return stream ? stream->Stop() : result::kInvalidHandle;
}

Result AlsaWaveInput::Close(WaveInHandle handle) {
  AlsaCaptureStream* stream = Find(handle);
  if (!stream)
    return result::kInvalidHandle;
  const Result ready = stream->ReadyToClose();
  if (ready == result::kOk)
    streams_.erase(handle);
  return ready;
}

uint64_t AlsaWaveInput::DiscardedBytes(WaveInHandle handle) {
  const AlsaCaptureStream* stream = Find(handle);
  return stream ? stream->Discarded() : 0;
}

uint64_t AlsaWaveInput::Overruns(WaveInHandle handle) {
  const AlsaCaptureStream* stream = Find(handle);
  return stream ? stream->Overruns() : 0;
}

}  // namespace calvora::platform::alsa
