#pragma once
// Wave input on the waveIn family of the Windows multimedia API. Each seam block is paired
// with a WAVEHDR of its own that lives from PrepareHeader to UnprepareHeader (or Close); the
// driver's callback, on its own thread, copies the recorded length into the seam block, marks
// it done and calls the owner's done callback, nothing else. Result codes are the
// multimedia ones, which the seam's codes follow.
#include <map>
#include <memory>

#include "platform/WaveInput.h"

namespace calvora::platform::win32 {

class Win32WaveInput : public WaveInput {
 public:
  Win32WaveInput();
  ~Win32WaveInput() override;
  Win32WaveInput(const Win32WaveInput&) = delete;
  Win32WaveInput& operator=(const Win32WaveInput&) = delete;

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

  struct Stream;

 private:
  Stream* Find(WaveInHandle handle);

  std::map<WaveInHandle, std::unique_ptr<Stream>> streams_;
  WaveInHandle nextHandle_ = 1;
};

}  // namespace calvora::platform::win32
