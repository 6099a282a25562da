#pragma once
// Wave input on ALSA. The devices are the machine's hardware capture devices, named
// "card name: device name", and the devices the ALSA configuration declares ("default" and
// those with a description), named by their description. The list and what each device
// reported are kept until the configuration, the cards or the sound servers change (see
// AlsaDeviceWatch.h), so that the refresh the supervision runs twice a second costs next to
// nothing; only the virtual card's devices are probed each time.
//
// Each open device has one capture thread. It reads 10 ms periods from ALSA, copies them
// into the oldest queued block and, once a block is full, marks it done through the done
// callback; it does nothing else. Every ALSA call on a running stream is made on that thread;
// the owner's thread starts and joins it. The block queue is the one thing both threads
// touch, and a small mutex guards it: the owner queues and takes blocks back while the
// thread fills them, and Reset must know that the thread has let go of every block before
// the owner releases them.
//
// Audio recorded while the owner has no block queued is thrown away, as on any device, but
// never in silence: it is counted (DiscardedBytes), and the owner's next AddBuffer warns on
// stderr with the amount.
//
// An overrun is recovered on the capture thread without stopping. A device that fails or
// vanishes while capturing returns every queued block, and from then on the block
// operations fail with its code, which is how the owner learns of it.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/WaveInput.h"
#include "platform/alsa/AlsaDeviceWatch.h"

namespace calvora::platform::alsa {

class AlsaWaveInput : public WaveInput {
 public:
  AlsaWaveInput();
  ~AlsaWaveInput() override;
  AlsaWaveInput(const AlsaWaveInput&) = delete;
  AlsaWaveInput& operator=(const AlsaWaveInput&) = delete;

  uint32_t DeviceCount() override;
  Result GetDeviceCaps(uint32_t device, WaveInCaps& caps) override;
  Result QueryFormat(uint32_t device, const WaveFormat& format) override;
  Result Open(WaveInHandle& handle, uint32_t device, const WaveFormat& format,
              WaveDoneCallback onDone) override;
  Result Start(WaveInHandle handle) override;
  Result PrepareHeader(WaveInHandle handle, WaveHeader& block) override;
  Result AddBuffer(WaveInHandle handle, WaveHeader& block) override;
  Result UnprepareHeader(WaveInHandle handle, WaveHeader& block) override;
  Result Reset(WaveInHandle handle) override;
  Result Stop(WaveInHandle handle) override;
  Result Close(WaveInHandle handle) override;
  uint64_t DiscardedBytes(WaveInHandle handle) override;

  // The ALSA name a device number stands for (e.g. "plughw:0,0", "default"), empty if none.
  std::string AlsaName(uint32_t device) const;

  struct Device {
    std::string Name;                 // the name shown to the user, distinct among the devices
    std::string ProbeName;            // opened to read the formats the device records natively
    std::string OpenName;             // opened to record
    bool ProbedEveryRefresh = false;  // see ListConfigured
  };
  class Stream;

 private:
  bool Listed(uint32_t device);
  Result ProbeCaps(uint32_t device, WaveInCaps& caps);
  Stream* Find(WaveInHandle handle);

  std::vector<Device> devices_;
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
  std::map<WaveInHandle, std::unique_ptr<Stream>> streams_;
  WaveInHandle nextHandle_ = 1;
};

}  // namespace calvora::platform::alsa
