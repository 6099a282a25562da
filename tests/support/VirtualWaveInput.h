#pragma once
// A wave input in memory: devices with chosen names, formats and answers, and a queue of
// blocks that the test fills by hand through the done callback, as a device would. Set to
// return its blocks on the main thread, it calls the ready callback when the test says so.
// It also keeps count of misuse (blocks queued on a closed device, blocks unprepared while
// queued) so that tests can check the owner never does it.
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "platform/WaveInput.h"

namespace calvora::testing {

class VirtualWaveInput : public platform::WaveInput {
 public:
  struct Device {
    std::string Name;
    uint32_t Formats = platform::wave_format::k4S16 | platform::wave_format::k48S16;
    platform::Result CapsResult = platform::result::kOk;
    platform::Result QueryResult = platform::result::kOk;
    platform::Result OpenResult = platform::result::kOk;
    platform::Result StartResult = platform::result::kOk;
  };

  std::vector<Device> Devices;

  // Answers of the block operations, for failure tests.
  platform::Result PrepareResult = platform::result::kOk;
  // Like any device, it runs out of room at some point: PrepareHeader then fails with
  // kNoMemory. Keeps a runaway queue from eating the machine's memory in a test.
  size_t QueueLimit = 4096;
  platform::Result UnprepareResult = platform::result::kOk;
  // A device that does not give its queued blocks back on Reset (a driver returning them
  // late, or never): they stay queued until FillOldest returns them.
  bool KeepsQueueOnReset = false;
  // Whether the device says it returns its blocks on the main thread (and TellReady works).
  bool ReturnsOnMainThread = false;

  // What the last successful Open and QueryFormat were given.
  platform::WaveFormat LastFormat;
  uint32_t LastOpenedDevice = 0;
  int QueryCalls = 0;
  int OpenCalls = 0;
  int CloseCalls = 0;
  int ResetCalls = 0;

  // Misuse seen so far.
  int OperationsOnClosedDevice = 0;
  int UnpreparedWhileQueued = 0;

  bool IsOpen() const { return open_; }
  size_t QueuedCount() const { return queue_.size(); }
  // The oldest queued block, or none.
  platform::WaveHeader* Oldest() const { return queue_.empty() ? nullptr : queue_.front(); }
  // Fills the oldest queued block with `bytes` (cut to its length) and returns it through
  // the done callback. False when nothing is queued.
  bool FillOldest(const std::vector<char>& bytes);
  // Calls the ready callback of the open device, as a device does after returning blocks on
  // the main thread. False when the device does not, or is closed.
  bool TellReady();
  // A block of `frames` stereo frames with the given left and right sample.
  static std::vector<char> Frames(size_t frames, int16_t left, int16_t right);

  uint32_t DeviceCount() override;
  platform::Result GetDeviceCaps(uint32_t device, platform::WaveInCaps& caps) override;
  platform::Result QueryFormat(uint32_t device, const platform::WaveFormat& format) override;
  platform::Result Open(platform::WaveInHandle& handle, uint32_t device,
                        const platform::WaveFormat& format, platform::WaveDoneCallback onDone,
                        platform::WaveReadyCallback onReady) override;
  bool ReadyOnMainThread() const override { return ReturnsOnMainThread; }
  platform::Result Start(platform::WaveInHandle handle) override;
  platform::Result PrepareHeader(platform::WaveInHandle handle,
                                 platform::WaveHeader& block) override;
  platform::Result AddBuffer(platform::WaveInHandle handle, platform::WaveHeader& block) override;
  platform::Result UnprepareHeader(platform::WaveInHandle handle,
                                   platform::WaveHeader& block) override;
  platform::Result Reset(platform::WaveInHandle handle) override;
  platform::Result Stop(platform::WaveInHandle handle) override;
  platform::Result Close(platform::WaveInHandle handle) override;

 private:
  bool Valid(platform::WaveInHandle handle);

  bool open_ = false;
  platform::Result failure_ = platform::result::kOk;
  platform::WaveInHandle handle_ = platform::kNoWaveIn;
  platform::WaveInHandle nextHandle_ = 1;
  platform::WaveDoneCallback onDone_;
  platform::WaveReadyCallback onReady_;
  std::deque<platform::WaveHeader*> queue_;
};

}  // namespace calvora::testing
