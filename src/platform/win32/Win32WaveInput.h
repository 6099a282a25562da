#pragma once
// Wave input on the waveIn family of the Windows multimedia API. Each seam block is paired
// with a WAVEHDR of its own that lives from PrepareHeader to UnprepareHeader (or Close); the
// driver's callback, on its own thread, copies the recorded length into the seam block, marks
// it done and calls the owner's done callback, nothing else. Result codes are the
// multimedia ones, which the seam's codes follow.
//
// The callback also posts one message to a message-only window of the thread that made this
// wave input (the main thread), unless one is on its way already; that window's procedure calls
// the stream's ready callback, so that the owner collects the blocks as soon as they are back,
// inside any message loop (a modal dialog's too), and nothing polls on a timer.
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

// clang-format off
#include <windows.h>
// clang-format on

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
  // True when the message-only window could be made.
  bool ReadyOnMainThread() const override { return window_ != nullptr; }

  struct Stream;
  // The window's message: a stream (wParam, its handle) has returned blocks.
  void BlocksReturned(WaveInHandle handle);

 private:
  Stream* Find(WaveInHandle handle);
  // Waits up to resetWaitMs_ until no block of the stream is with the driver; false if one
  // still is.
  bool WaitForReturns(const Stream& stream) const;

  const Win32WaveInDriver& driver_;
  HWND window_ = nullptr;
  uint32_t resetWaitMs_;

  std::map<WaveInHandle, std::unique_ptr<Stream>> streams_;
  WaveInHandle nextHandle_ = 1;
};

}  // namespace calvora::platform::win32
