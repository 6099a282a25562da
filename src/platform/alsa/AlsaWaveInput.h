#pragma once
// Wave input on ALSA: the devices of AlsaCaptureListing.h, each open one an AlsaCaptureStream.
// The list and what each device reported are kept until the configuration, the cards or the
// sound servers change (see AlsaDeviceWatch.h), so that the refresh the supervision runs twice
// a second costs next to nothing; only the virtual card's devices are probed each time.
//
// The streams run on the main loop through the descriptor watches and timers given at
// construction; a wave input made without them (to list the devices) cannot open devices.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/DescriptorWatch.h"
#include "platform/Timers.h"
#include "platform/WaveInput.h"
#include "platform/alsa/AlsaCaptureListing.h"
#include "platform/alsa/AlsaCaptureStream.h"
#include "platform/alsa/AlsaDeviceWatch.h"

namespace calvora::platform::alsa {

class AlsaWaveInput : public WaveInput {
 public:
  AlsaWaveInput();
  AlsaWaveInput(DescriptorWatches& watches, Timers& timers);
  ~AlsaWaveInput() override;
  AlsaWaveInput(const AlsaWaveInput&) = delete;
  AlsaWaveInput& operator=(const AlsaWaveInput&) = delete;

  uint32_t DeviceCount() override;
  Result GetDeviceCaps(uint32_t device, WaveInCaps& caps) override;
  Result QueryFormat(uint32_t device, const WaveFormat& format) override;
  Result Open(WaveInHandle& handle, uint32_t device, const WaveFormat& format,
              WaveDoneCallback onDone, WaveReadyCallback onReady) override;
  bool ReadyOnMainThread() const override { return watches_ != nullptr; }
  Result Start(WaveInHandle handle) override;
  Result PrepareHeader(WaveInHandle handle, WaveHeader& block) override;
  Result AddBuffer(WaveInHandle handle, WaveHeader& block) override;
  Result UnprepareHeader(WaveInHandle handle, WaveHeader& block) override;
  Result Reset(WaveInHandle handle) override;
  Result Stop(WaveInHandle handle) override;
  Result Close(WaveInHandle handle) override;
  uint64_t DiscardedBytes(WaveInHandle handle) override;
  uint64_t Overruns(WaveInHandle handle) override;

  // The ALSA name a device number stands for (e.g. "plughw:0,0", "default"), empty if none.
  std::string AlsaName(uint32_t device) const;

 private:
  bool Listed(uint32_t device);
  Result ProbeCaps(uint32_t device, WaveInCaps& caps);
  AlsaCaptureStream* Find(WaveInHandle handle);

  DescriptorWatches* watches_ = nullptr;
  Timers* timers_ = nullptr;
  std::vector<CaptureDevice> devices_;
  bool listed_ = false;
  AlsaDeviceWatch watch_;
  // What each device (by ProbeName) answered since the watch last saw a change.
  struct Probed {
    Result result = result::kOk;
    WaveInCaps caps;
  };
  std::map<std::string, Probed> probed_;
  // The formats each device (by ProbeName) reported when it was last free to be probed.
  // A hardware device that this program records from is busy to every further open, yet
  // must stay in the list that, say, the settings dialog reads meanwhile.
  std::map<std::string, WaveInCaps> knownCaps_;
  std::map<WaveInHandle, std::unique_ptr<AlsaCaptureStream>> streams_;
  WaveInHandle nextHandle_ = 1;
};

}  // namespace calvora::platform::alsa
