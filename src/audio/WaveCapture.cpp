#include "audio/WaveCapture.h"

#include <algorithm>
#include <cstdint>
#include <new>

#include "audio/Level.h"
#include "platform/Utf8Text.h"

namespace calvora::audio {

namespace {

constexpr uint32_t kDoneMark = 1;

}  // namespace

// A queued block: the header the device sees and the zero-filled data it records into.
struct TWaveCapture::Block {
  platform::WaveHeader Header;
  std::unique_ptr<char[]> Data;
};

TWaveCapture::TWaveCapture(platform::WaveInput& waveInput) : waveInput_(waveInput) {
  RefreshDevices();
  SampleRate = 44100;
  BitsPerSample = 16;
  BufferSize = 4096;
  SetQueueBytes(44100);
  DeviceIndex = Devices.empty() ? -1 : 0;
}

// The owner stops an active capture before releasing it. Should it not have, the capture is
// stopped here all the same: the device must not go on recording into released blocks.
TWaveCapture::~TWaveCapture() {
  if (Active)
    Stop();
}

void TWaveCapture::RefreshDevices() {
  Devices.clear();
  const uint32_t count = waveInput_.DeviceCount();
  for (uint32_t id = 0; id < count; ++id) {
    platform::WaveInCaps caps;
    if (waveInput_.GetDeviceCaps(id, caps) != platform::result::kOk)
      continue;
    if ((caps.Formats & platform::wave_format::k4S16) == 0)
      continue;
    Devices.push_back(
        {static_cast<int32_t>(id),
         platform::CutToChars(platform::TrimBlanksAndControls(caps.Name), kMaxNameLength)});
  }
}

std::string TWaveCapture::DeviceName(int32_t index) const {
  if (index < 0 || index >= DeviceCount())
    return {};
  return Devices[static_cast<size_t>(index)].Name;
}

void TWaveCapture::SelectDevice(int32_t index) {
  if (index >= 0 && index < DeviceCount())
    DeviceIndex = index;
}

void TWaveCapture::SetQueueBytes(int32_t bytes) {
  // A block size of 0 or less would leave nothing to divide by; it gets one block.
  // Worked out in 64 bits: near the top of the 32-bit range one more block, or the bytes of
  // all of them, would overflow; such amounts are held at the largest 32-bit value.
  const int64_t count = BufferSize > 0 ? int64_t{bytes} / BufferSize + 1 : 1;
  BufferCount = static_cast<int32_t>(std::min<int64_t>(count, INT32_MAX));
  QueueBytes = static_cast<int32_t>(
      std::clamp<int64_t>(int64_t{BufferCount} * BufferSize, INT32_MIN, INT32_MAX));
}

int32_t TWaveCapture::Start() {
  if (DeviceIndex < 0 || DeviceIndex >= DeviceCount())
    return -1;
  // Starting again while running would drop the queue the device is still recording into.
  if (Active)
    return platform::result::kAllocated;
  const auto device = static_cast<uint32_t>(Devices[static_cast<size_t>(DeviceIndex)].DeviceID);

  platform::WaveFormat format;
  format.FormatTag = platform::kWaveFormatPcm;
  format.Channels = 2;
  format.SamplesPerSec = static_cast<uint32_t>(SampleRate);
  format.BitsPerSample = BitsPerSample;
  format.BlockAlign = static_cast<uint16_t>(format.Channels * BitsPerSample / 8);
  format.AvgBytesPerSec = format.BlockAlign * format.SamplesPerSec;

  platform::Result result = waveInput_.QueryFormat(device, format);
  if (result != platform::result::kOk)
    return result;
  result = waveInput_.Open(WaveHandle, device, format, MarkDone, [this] { BlocksReturned(); });
  if (result != platform::result::kOk) {
    WaveHandle = platform::kNoWaveIn;
    return result;
  }
  // Open counts as running from here on, also when the start itself fails, until the owner
  // stops it; a device that could not start fails its block operations, so the owner
  // hears of it through OnError at the latest on the next poll.
  result = waveInput_.Start(WaveHandle);
  Pending = std::make_unique<BlockList>();
  Active = true;
  return result;
}

// May run on the device's thread: marking the block is all it may do.
void TWaveCapture::MarkDone(platform::WaveHeader& block) {
  block.User.store(kDoneMark, std::memory_order_release);
}

void TWaveCapture::BlocksReturned() {
  // A copy: the handler may stop and release this capture.
  const TWaveReadyEvent ready = OnReady;
  if (ready)
    ready(*this);
  else
    Poll();
}

int32_t TWaveCapture::Stop() {
  if (!Active)
    return 0;
  Active = false;
  ++session_;
  waveInput_.Reset(WaveHandle);
  if (Pending) {
    for (auto& block : *Pending) {
      // A block the device did not give back in time may still be written into: it is
      // left to the device, never freed.
      if (waveInput_.UnprepareHeader(WaveHandle, block->Header) == platform::result::kStillPlaying)
        (void)block.release();
    }
    Pending.reset();
  }
  waveInput_.Stop(WaveHandle);
  waveInput_.Close(WaveHandle);
  WaveHandle = platform::kNoWaveIn;
  LeftPeak = 0;
  RightPeak = 0;
  return 0;
}

void TWaveCapture::Poll() {
  if (Busy)
    return;
  Busy = true;
  bool firstBlock = true;
  const uint64_t session = session_;
  try {
    if (Pending) {
      Collect(firstBlock, session);
      if (StillRunning(session))
        Refill(session);
    }
  } catch (...) {
    // A failing handler or allocation ends this poll; the next one carries on.
  }
  Busy = false;
}

void TWaveCapture::Collect(bool& firstBlock, uint64_t session) {
  auto it = Pending->begin();
  while (it != Pending->end()) {
    if ((*it)->Header.User.load(std::memory_order_acquire) != kDoneMark) {
      ++it;
      continue;
    }
    std::unique_ptr<Block> block = std::move(*it);
    it = Pending->erase(it);

    const platform::Result unprepared = waveInput_.UnprepareHeader(WaveHandle, block->Header);
    if (unprepared != platform::result::kOk) {
      RaiseError(unprepared);
      // The handler stopped the capture: what it has stopped is not delivered any more.
      if (!StillRunning(session))
        return;
    }
    Measure(*block, firstBlock);
    if (OnData) {
      OnData(*this, block->Header.Data, static_cast<int32_t>(block->Header.BytesRecorded));
      if (!StillRunning(session))
        return;
    }
  }
}

void TWaveCapture::Measure(const Block& block, bool& firstBlock) {
  // Whole frames only: 1 to 3 trailing bytes are delivered but not measured.
  const uint32_t frames = block.Header.BytesRecorded / 4;
  const auto* bytes = reinterpret_cast<const unsigned char*>(block.Header.Data);
  int16_t left = 0;
  int16_t right = 0;
  for (uint32_t f = 0; f < frames; ++f) {
    const unsigned char* frame = bytes + f * 4;
    const auto l = SampleMagnitude(static_cast<int16_t>(frame[0] | (frame[1] << 8)));
    const auto r = SampleMagnitude(static_cast<int16_t>(frame[2] | (frame[3] << 8)));
    if (l > left)
      left = l;
    if (r > right)
      right = r;
  }
  if (firstBlock) {
    firstBlock = false;
    LeftPeak = left;
    RightPeak = right;
  } else {
    if (left > LeftPeak)
      LeftPeak = left;
    if (right > RightPeak)
      RightPeak = right;
  }
}

void TWaveCapture::Refill(uint64_t session) {
  // An amount below 0 leaves a block count of 0 or less: nothing is to be kept queued.
  const auto wanted = static_cast<size_t>(std::max(BufferCount, 0));
  while (StillRunning(session) && Pending->size() < wanted) {
    auto block = std::unique_ptr<Block>(new (std::nothrow) Block);
    if (!block || BufferSize <= 0)
      return;
    block->Data.reset(new (std::nothrow) char[static_cast<size_t>(BufferSize)]());
    if (!block->Data)
      return;
    block->Header.Data = block->Data.get();
    block->Header.BufferLength = static_cast<uint32_t>(BufferSize);

    const platform::Result prepared = waveInput_.PrepareHeader(WaveHandle, block->Header);
    if (prepared != platform::result::kOk) {
      block.reset();
      RaiseError(prepared);
      return;
    }
    // Listed before it is queued, so that a failing list insertion cannot leave the device
    // with a block nobody owns.
    Pending->push_back(std::move(block));
    waveInput_.AddBuffer(WaveHandle, Pending->back()->Header);
  }
}

void TWaveCapture::RaiseError(platform::Result code) {
  if (OnError)
    OnError(*this, static_cast<uint32_t>(code));
}

double TWaveCapture::LeftLevel() const {
  return PeakToDb(LeftPeak);
}
double TWaveCapture::RightLevel() const {
  return PeakToDb(RightPeak);
}

}  // namespace calvora::audio
