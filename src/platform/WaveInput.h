#pragma once
// Wave audio input: the machine's capture devices, each opened for PCM at a given format,
// recording into blocks that the owner queues and gets back filled.
//
// The model is the classic multimedia one. The owner prepares a block, queues it with
// AddBuffer, and the device fills the queued blocks oldest first; for every block it has
// filled it calls the open handle's done callback with the block's BytesRecorded set. That
// callback must do nothing but mark the block (its Done field). A device that returns its
// blocks on the main thread (ReadyOnMainThread) then calls the ready callback once it has let
// go of them, and the owner collects them there; any other device calls the done callback on a
// thread of its own, and the owner looks for marked blocks on a timer. Reset returns every
// queued block through the done callback, so that none is left with the device afterwards.
//
// Every operation returns a result code: 0 for success, a platform::result code otherwise.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/Result.h"

namespace calvora::platform {

// Format-mask bits of WaveInCaps::Formats: sample rate, channels and sample width.
namespace wave_format {
constexpr uint32_t k1M08 = 0x00000001;  // 11.025 kHz, mono, 8-bit
constexpr uint32_t k1S08 = 0x00000002;
constexpr uint32_t k1M16 = 0x00000004;
constexpr uint32_t k1S16 = 0x00000008;
constexpr uint32_t k2M08 = 0x00000010;  // 22.05 kHz
constexpr uint32_t k2S08 = 0x00000020;
constexpr uint32_t k2M16 = 0x00000040;
constexpr uint32_t k2S16 = 0x00000080;
constexpr uint32_t k4M08 = 0x00000100;  // 44.1 kHz
constexpr uint32_t k4S08 = 0x00000200;
constexpr uint32_t k4M16 = 0x00000400;
constexpr uint32_t k4S16 = 0x00000800;   // 44.1 kHz stereo 16-bit
constexpr uint32_t k48M08 = 0x00001000;  // 48 kHz
constexpr uint32_t k48S08 = 0x00002000;
constexpr uint32_t k48M16 = 0x00004000;
constexpr uint32_t k48S16 = 0x00008000;
constexpr uint32_t k96M08 = 0x00010000;  // 96 kHz
constexpr uint32_t k96S08 = 0x00020000;
constexpr uint32_t k96M16 = 0x00040000;
constexpr uint32_t k96S16 = 0x00080000;
}  // namespace wave_format

// What a device reports about itself without being opened.
struct WaveInCaps {
  std::string Name;      // product name as the user knows it
  uint32_t Formats = 0;  // wave_format bits
  uint16_t Channels = 0;
};

constexpr uint16_t kWaveFormatPcm = 1;

// Interleaved PCM, first channel first, little-endian samples.
struct WaveFormat {
  uint16_t FormatTag = kWaveFormatPcm;
  uint16_t Channels = 2;
  uint32_t SamplesPerSec = 44100;
  uint32_t AvgBytesPerSec = 176400;
  uint16_t BlockAlign = 4;
  uint16_t BitsPerSample = 16;
};

// Flags of WaveHeader::Flags kept by the device.
namespace wave_header {
constexpr uint32_t kDone = 0x1;      // the device has returned the block
constexpr uint32_t kPrepared = 0x2;  // prepared, may be queued
constexpr uint32_t kInQueue = 0x10;  // queued with the device
}  // namespace wave_header

// One capture block. The owner allocates it and its data, and keeps both alive from
// AddBuffer until the block came back through the done callback or Reset.
struct WaveHeader {
  char* Data = nullptr;
  uint32_t BufferLength = 0;
  uint32_t BytesRecorded = 0;  // written by the device before the done callback
  // Free for the owner; the capture uses it as its done mark. Written by a device thread
  // where the device has one and read by the owner's thread, hence atomic.
  std::atomic<uint32_t> User{0};
  uint32_t Flags = 0;  // wave_header bits, kept by the device
};

// Opaque handle of an open device; kNoWaveIn is none.
using WaveInHandle = uint32_t;
constexpr WaveInHandle kNoWaveIn = 0;

// Called for every block the device returns, filled or reset.
using WaveDoneCallback = std::function<void(WaveHeader& block)>;
// Called on the main thread after the device, of its own accord, has returned one or more
// blocks and let go of them: the owner may collect them, and even stop or close the device,
// from inside it.
using WaveReadyCallback = std::function<void()>;

class WaveInput {
 public:
  virtual ~WaveInput() = default;

  // Lists the devices afresh and returns how many there are; device numbers are
  // 0 to count - 1 until the next call.
  virtual uint32_t DeviceCount() = 0;
  virtual Result GetDeviceCaps(uint32_t device, WaveInCaps& caps) = 0;

  // Asks whether the device would record in this format, without opening it.
  virtual Result QueryFormat(uint32_t device, const WaveFormat& format) = 0;

  // Opens the device for recording; blocks are returned through onDone, followed by onReady
  // where the device returns them on the main thread. onReady may be empty.
  virtual Result Open(WaveInHandle& handle, uint32_t device, const WaveFormat& format,
                      WaveDoneCallback onDone, WaveReadyCallback onReady) = 0;
  // Whether recorded blocks come back on the main thread, each batch followed by the ready
  // callback; false when they come on a device thread and the owner must poll for them.
  virtual bool ReadyOnMainThread() const { return false; }
  // Starts recording into the queued blocks. A device that fails to start, or fails while
  // recording, returns its queued blocks and fails the block operations from then on.
  virtual Result Start(WaveInHandle handle) = 0;

  virtual Result PrepareHeader(WaveInHandle handle, WaveHeader& block) = 0;
  virtual Result AddBuffer(WaveInHandle handle, WaveHeader& block) = 0;
  // Fails with kStillPlaying while the block is queued.
  virtual Result UnprepareHeader(WaveInHandle handle, WaveHeader& block) = 0;

  // Stops recording and returns every queued block; none is touched afterwards.
  virtual Result Reset(WaveInHandle handle) = 0;
  // Stops recording; the queued blocks stay queued.
  virtual Result Stop(WaveInHandle handle) = 0;
  // Closes the device; fails with kStillPlaying while blocks are queued.
  virtual Result Close(WaveInHandle handle) = 0;

  // Bytes the device recorded while no block was queued, and so had to throw away, since
  // it was opened. A device that never runs ahead of its owner keeps 0.
  virtual uint64_t DiscardedBytes(WaveInHandle /*handle*/) { return 0; }
  // Times the device ran out of room because it was read too late (its own buffer overran)
  // and was put back to work, since it was opened.
  virtual uint64_t Overruns(WaveInHandle /*handle*/) { return 0; }
};

}  // namespace calvora::platform
