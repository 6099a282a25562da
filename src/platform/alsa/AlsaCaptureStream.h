#pragma once
// One open ALSA capture device, served on the main loop: the device's poll descriptors are
// watched there, and when the device has periods ready the main thread reads them, copies them
// into the oldest queued blocks, marks each full block done through the done callback and then
// calls the ready callback, where the owner collects them. No thread of its own: every call,
// and every block, stays on the main thread.
//
// Audio recorded while the owner has no block queued is thrown away, as on any device, but
// never in silence: it is counted (Discarded), and the owner's next Add warns on stderr with
// the amount.
//
// An overrun (the main loop came back later than ALSA's buffer lasts) is recovered without
// stopping, counted (Overruns) and warned of at the next Add like thrown-away audio. A device
// that fails or vanishes while capturing returns every queued block, and from then on the block
// operations fail with its code, which is how the owner learns of it. A device that goes quiet
// without an error (a sound server's plugin whose server died) is read on a slow timer too, so
// that the read reports what went wrong.
#include <alsa/asoundlib.h>
#include <poll.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/DescriptorWatch.h"
#include "platform/Timers.h"
#include "platform/WaveInput.h"

namespace calvora::platform::alsa {

class AlsaCaptureStream {
 public:
  // Opens the device to record in the format, in periods of 10 ms with a few of them buffered
  // by ALSA; stream is set only when it opens. The watches and timers must outlive the stream.
  static Result Open(const std::string& device, const WaveFormat& format,
                     DescriptorWatches& watches, Timers& timers, WaveDoneCallback onDone,
                     WaveReadyCallback onReady, std::unique_ptr<AlsaCaptureStream>& stream);
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
  uint64_t Discarded() const { return discarded_; }
  uint64_t Overruns() const { return overruns_; }

 private:
  struct Settings {
    snd_pcm_uframes_t periodFrames;
    uint32_t frameBytes;
    uint32_t bytesPerSecond;
  };
  AlsaCaptureStream(snd_pcm_t* pcm, const Settings& settings, DescriptorWatches& watches,
                    Timers& timers, WaveDoneCallback onDone, WaveReadyCallback onReady);

  Result Failed(Result code);
  void Fail(int alsaError);
  bool Watch();
  void Halt();
  void WarnOfLosses();
  void ReturnBlocks(bool all);
  WaveHeader& TakeOldest();
  void TellDone(WaveHeader& block);
  void FillBlocks(const char* data, size_t bytes);
  bool Recover(int err);
  void ReadPeriods();
  void DeviceReady(short ready);
  void QuietCheck();
  void TellReady();

  snd_pcm_t* pcm_;
  const Settings settings_;
  DescriptorWatches& watches_;
  const WaveDoneCallback onDone_;
  const WaveReadyCallback onReady_;
  std::vector<pollfd> descriptors_;
  std::vector<std::unique_ptr<DescriptorWatch>> watching_;
  std::unique_ptr<Timer> quietTimer_;
  bool readSinceCheck_ = false;  // audio came since the quiet timer last looked
  std::vector<char> period_;
  uint64_t discarded_ = 0;  // bytes, since the open
  uint64_t unwarned_ = 0;   // bytes, since the last warning
  uint64_t overruns_ = 0;
  uint64_t unwarnedOverruns_ = 0;
  bool running_ = false;
  Result failure_ = result::kOk;
  std::deque<WaveHeader*> queue_;
  // Whether a block went back to the owner during the current wake-up.
  bool returned_ = false;
};

}  // namespace calvora::platform::alsa
