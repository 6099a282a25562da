#pragma once
// Wave input on the waveIn family of the Windows multimedia API. Each seam block is paired
// with a WAVEHDR of its own that lives from PrepareHeader to UnprepareHeader (or Close); the
// driver's callback, on its own thread, copies the recorded length into the seam block, marks
// it done and calls the owner's done callback, nothing else. Result codes are the
// multimedia ones, which the seam's codes follow.
//
// A block counts as the driver's from AddBuffer until the callback for it has finished. Until
// then it is neither unprepared nor given back to the owner as free: Reset waits for the
// driver to return every queued block (a real driver may do so after waveInReset has come
// back), but only for a bounded time, so a broken driver cannot hang the program. A block
// still out after that fails UnprepareHeader with kStillPlaying, and the owner must then
// leave its memory alone for good: leaking it is better than freeing memory the driver may
// still write into.
#include <cstdint>
#include <map>
#include <memory>

#include "platform/WaveInput.h"

namespace calvora::platform::win32 {

struct Win32WaveInDriver;

class Win32WaveInput : public WaveInput {
 public:
  // How long Reset waits for the driver to return the queued blocks.
  static constexpr uint32_t kResetWaitMs = 500;

  // On the system's waveIn functions.
  Win32WaveInput();
  // On another driver, which must outlive this object.
  explicit Win32WaveInput(const Win32WaveInDriver& driver, uint32_t resetWaitMs = kResetWaitMs);
  ~Win32WaveInput() override;
  Win32WaveInput(const Win32WaveInput&) = delete;
  Win32WaveInput& operator=(const Win32WaveInput&) = delete;

  uint32_t DeviceCount() override;
  Result GetDeviceCaps(uint32_t device, WaveInCaps& caps) override;
  Result QueryFormat(uint32_t device, const WaveFormat& format) override;
  Result Open(WaveInHandle& handle, uint32_t device, const WaveFormat& format,
              WaveDoneCallback onDone, WaveReadyCallback onReady) override;
  Result Start(WaveInHandle handle) override;
  Result PrepareHeader(WaveInHandle handle, WaveHeader& block) override;
  Result AddBuffer(WaveInHandle handle, WaveHeader& block) override;
  Result UnprepareHeader(WaveInHandle handle, WaveHeader& block) override;
  Result Reset(WaveInHandle handle) override;
  Result Stop(WaveInHandle handle) override;
  Result Close(WaveInHandle handle) override;

  struct Stream;

 private:
  Stream* Find(WaveInHandle handle);
  // Waits up to resetWaitMs_ until no block of the stream is with the driver; false if one
  // still is.
  bool WaitForReturns(const Stream& stream) const;

  const Win32WaveInDriver& driver_;
  uint32_t resetWaitMs_;

  std::map<WaveInHandle, std::unique_ptr<Stream>> streams_;
  WaveInHandle nextHandle_ = 1;
};

}  // namespace calvora::platform::win32
