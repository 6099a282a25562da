#include "VirtualWaveInput.h"

#include <algorithm>
#include <cstring>

namespace calvora::testing {

using platform::Result;
namespace result = platform::result;
namespace flags = platform::wave_header;

std::vector<char> VirtualWaveInput::Frames(size_t frames, int16_t left, int16_t right) {
  std::vector<char> bytes(frames * 4);
  for (size_t f = 0; f < frames; ++f) {
    const auto l = static_cast<uint16_t>(left);
    const auto r = static_cast<uint16_t>(right);
    bytes[f * 4 + 0] = static_cast<char>(l & 0xFF);
    bytes[f * 4 + 1] = static_cast<char>(l >> 8);
    bytes[f * 4 + 2] = static_cast<char>(r & 0xFF);
    bytes[f * 4 + 3] = static_cast<char>(r >> 8);
  }
  return bytes;
}

bool VirtualWaveInput::FillOldest(const std::vector<char>& bytes) {
  if (queue_.empty())
    return false;
  platform::WaveHeader* block = queue_.front();
  queue_.pop_front();
  const size_t n = std::min<size_t>(bytes.size(), block->BufferLength);
  if (n > 0)
    std::memcpy(block->Data, bytes.data(), n);
  block->BytesRecorded = static_cast<uint32_t>(n);
  block->Flags = (block->Flags & ~flags::kInQueue) | flags::kDone;
  onDone_(*block);
  return true;
}

bool VirtualWaveInput::TellReady() {
  if (!ReturnsOnMainThread || !open_ || !onReady_)
    return false;
  const platform::WaveReadyCallback ready = onReady_;  // the owner may close the device
  ready();
  return true;
}

bool VirtualWaveInput::Valid(platform::WaveInHandle handle) {
  if (open_ && handle == handle_)
    return true;
  ++OperationsOnClosedDevice;
  return false;
}

uint32_t VirtualWaveInput::DeviceCount() {
  return static_cast<uint32_t>(Devices.size());
}

Result VirtualWaveInput::GetDeviceCaps(uint32_t device, platform::WaveInCaps& caps) {
  if (device >= Devices.size())
    return result::kBadDeviceId;
  const Device& d = Devices[device];
  if (d.CapsResult != result::kOk)
    return d.CapsResult;
  caps.Name = d.Name;
  caps.Formats = d.Formats;
  caps.Channels = 2;
  return result::kOk;
}

Result VirtualWaveInput::QueryFormat(uint32_t device, const platform::WaveFormat& format) {
  ++QueryCalls;
  if (device >= Devices.size())
    return result::kBadDeviceId;
  LastFormat = format;
  return Devices[device].QueryResult;
}

Result VirtualWaveInput::Open(platform::WaveInHandle& handle, uint32_t device,
                              const platform::WaveFormat& format, platform::WaveDoneCallback onDone,
                              platform::WaveReadyCallback onReady) {
  ++OpenCalls;
  if (device >= Devices.size())
    return result::kBadDeviceId;
  if (open_)
    return result::kAllocated;
  if (Devices[device].OpenResult != result::kOk)
    return Devices[device].OpenResult;
  LastFormat = format;
  LastOpenedDevice = device;
  open_ = true;
  failure_ = result::kOk;
  handle_ = nextHandle_++;
  handle = handle_;
  onDone_ = std::move(onDone);
  onReady_ = std::move(onReady);
  return result::kOk;
}

Result VirtualWaveInput::Start(platform::WaveInHandle handle) {
  if (!Valid(handle))
    return result::kInvalidHandle;
  // A device that cannot start fails its blocks from then on.
  failure_ = Devices[LastOpenedDevice].StartResult;
  return failure_;
}

Result VirtualWaveInput::PrepareHeader(platform::WaveInHandle handle, platform::WaveHeader& block) {
  if (!Valid(handle))
    return result::kInvalidHandle;
  if (failure_ != result::kOk)
    return failure_;
  if (PrepareResult != result::kOk)
    return PrepareResult;
  if (queue_.size() >= QueueLimit)
    return result::kNoMemory;
  block.Flags |= flags::kPrepared;
  return result::kOk;
}

Result VirtualWaveInput::AddBuffer(platform::WaveInHandle handle, platform::WaveHeader& block) {
  if (!Valid(handle))
    return result::kInvalidHandle;
  if ((block.Flags & flags::kPrepared) == 0)
    return result::kUnprepared;
  block.Flags = (block.Flags & ~flags::kDone) | flags::kInQueue;
  queue_.push_back(&block);
  return result::kOk;
}

Result VirtualWaveInput::UnprepareHeader(platform::WaveInHandle handle,
                                         platform::WaveHeader& block) {
  if (!Valid(handle))
    return result::kInvalidHandle;
  if (std::find(queue_.begin(), queue_.end(), &block) != queue_.end()) {
    ++UnpreparedWhileQueued;
    return result::kStillPlaying;
  }
  if (failure_ != result::kOk)
    return failure_;
  if (UnprepareResult != result::kOk)
    return UnprepareResult;
  block.Flags &= ~flags::kPrepared;
  return result::kOk;
}

Result VirtualWaveInput::Reset(platform::WaveInHandle handle) {
  if (!Valid(handle))
    return result::kInvalidHandle;
  ++ResetCalls;
  while (!KeepsQueueOnReset && !queue_.empty()) {
    platform::WaveHeader* block = queue_.front();
    queue_.pop_front();
    block->Flags = (block->Flags & ~flags::kInQueue) | flags::kDone;
    onDone_(*block);
  }
  return result::kOk;
}

Result VirtualWaveInput::Stop(platform::WaveInHandle handle) {
  return Valid(handle) ? result::kOk : result::kInvalidHandle;
}

Result VirtualWaveInput::Close(platform::WaveInHandle handle) {
  if (!Valid(handle))
    return result::kInvalidHandle;
  if (!queue_.empty())
    return result::kStillPlaying;
  ++CloseCalls;
  open_ = false;
  handle_ = platform::kNoWaveIn;
  onDone_ = nullptr;
  onReady_ = nullptr;
  return result::kOk;
}

}  // namespace calvora::testing
