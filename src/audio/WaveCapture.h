#pragma once
// 16-bit stereo capture from one wave input device in blocks, with the peak level of each
// channel. The capture has no thread or timer of its own: the device marks returned blocks
// done, and Poll, on the main thread, collects, measures and delivers them and keeps the
// device's queue full. A device that returns its blocks on the main thread says when it has
// (ReadyOnMainThread), and the capture then runs OnReady, or Poll itself, at once; any other
// device is polled by the owner on a timer.
#include <array>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "platform/WaveInput.h"

namespace calvora::audio {

class TWaveCapture;

// The bytes are valid only during the call.
using TWaveDataEvent = std::function<void(TWaveCapture& sender, const char* data, int32_t count)>;
using TWaveErrorEvent = std::function<void(TWaveCapture& sender, uint32_t code)>;
using TWaveReadyEvent = std::function<void(TWaveCapture& sender)>;

// Levels of the first (left) and second (right) channel in dB, as read from the capture
// while its data event is handled.
using ChannelLevels = std::array<double, 2>;

struct WaveInDevice {
  int32_t DeviceID = 0;  // the device number the platform knows it by
  std::string Name;      // trimmed, at most 32 characters
};

class TWaveCapture {
 public:
  static constexpr size_t kMaxNameLength = 32;

  explicit TWaveCapture(platform::WaveInput& waveInput);
  // Stops a capture that is still active.
  ~TWaveCapture();
  TWaveCapture(const TWaveCapture&) = delete;
  TWaveCapture& operator=(const TWaveCapture&) = delete;

  // Lists the devices that record 44.1 kHz stereo 16-bit again; DeviceIndex is kept.
  void RefreshDevices();
  int32_t DeviceCount() const { return static_cast<int32_t>(Devices.size()); }
  // Empty for an index outside the list.
  std::string DeviceName(int32_t index) const;
  // Ignored for an index outside the list.
  void SelectDevice(int32_t index);
  // Keeps enough whole blocks of BufferSize queued to hold the amount, and one more.
  void SetQueueBytes(int32_t bytes);

  // 0 on success, -1 when no device is chosen, otherwise the platform's code (also when
  // the capture is running already).
  int32_t Start();
  // Always 0; blocks still queued are discarded.
  int32_t Stop();
  // Collects, measures and delivers filled blocks, then queues fresh ones.
  void Poll();
  // Whether the device brings its blocks to the main thread by itself, so that nobody needs
  // to poll on a timer.
  bool ReadyOnMainThread() const { return waveInput_.ReadyOnMainThread(); }

  double LeftLevel() const;
  double RightLevel() const;
  ChannelLevels Levels() const { return {LeftLevel(), RightLevel()}; }

  TWaveDataEvent OnData;
  TWaveErrorEvent OnError;
  // The device has returned blocks on the main thread: the handler polls (and may do what
  // belongs with it first). Without a handler the capture polls by itself.
  TWaveReadyEvent OnReady;

  std::vector<WaveInDevice> Devices;
  int32_t DeviceIndex = -1;
  int32_t SampleRate = 44100;
  uint8_t BitsPerSample = 16;
  int32_t BufferSize = 4096;
  int32_t QueueBytes = 0;
  int32_t BufferCount = 0;
  int16_t LeftPeak = 0;
  int16_t RightPeak = 0;
  bool Active = false;

  // How many blocks are queued with the device at the moment (for the owner's display
  // and for tests).
  size_t PendingCount() const { return Pending ? Pending->size() : 0; }
  // Times the device overran, and bytes it threw away for want of a queued block, since the
  // capture started (0 when it is not running).
  uint64_t Overruns() const { return Active ? waveInput_.Overruns(WaveHandle) : 0; }
  uint64_t DiscardedBytes() const { return Active ? waveInput_.DiscardedBytes(WaveHandle) : 0; }

 private:
  struct Block;
  using BlockList = std::list<std::unique_ptr<Block>>;

  static void MarkDone(platform::WaveHeader& block);
  void BlocksReturned();
  void Collect(bool& firstBlock, uint64_t session);
  void Refill(uint64_t session);
  void Measure(const Block& block, bool& firstBlock);
  void RaiseError(platform::Result code);
  bool StillRunning(uint64_t session) const { return Pending && session_ == session; }

  platform::WaveInput& waveInput_;
  bool Busy = false;
  platform::WaveInHandle WaveHandle = platform::kNoWaveIn;
  std::unique_ptr<BlockList> Pending;
  // Counts Stop calls, so that a poll notices when a handler stopped (or restarted) the
  // capture under it and leaves the released queue alone.
  uint64_t session_ = 0;
};

}  // namespace calvora::audio
