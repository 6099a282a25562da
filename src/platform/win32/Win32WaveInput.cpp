#include "platform/win32/Win32WaveInput.h"

#include <atomic>

#include "platform/win32/WideText.h"
#include "platform/win32/Win32WaveInDriver.h"

namespace calvora::platform::win32 {

namespace {

// Where a prepared block is: the owner's, queued with the driver, or on its way back (the
// driver's callback for it is running).
enum class BlockPlace { Owner, Driver, Returning };

// The driver's header of one prepared seam block.
struct DriverBlock {
  WAVEHDR header{};
  WaveHeader* block = nullptr;
  std::atomic<BlockPlace> place{BlockPlace::Owner};
};

}  // namespace

struct Win32WaveInput::Stream {
  HWAVEIN wave = nullptr;
  WaveDoneCallback onDone;
  WaveReadyCallback onReady;
  // Where the callback posts its message, and for which handle; the flag keeps it to one
  // message on its way at a time.
  HWND window = nullptr;
  WaveInHandle handle = kNoWaveIn;
  std::atomic<bool> readyPosted{false};
  std::map<WaveHeader*, std::unique_ptr<DriverBlock>> headers;

  bool AnyWithDriver() const {
    for (const auto& [block, driverBlock] : headers)
      if (driverBlock->place.load(std::memory_order_acquire) != BlockPlace::Owner)
        return true;
    return false;
  }
};

namespace {

WAVEFORMATEX ToWaveFormatEx(const WaveFormat& format) {
  WAVEFORMATEX wfx{};
  wfx.wFormatTag = format.FormatTag;
  wfx.nChannels = format.Channels;
  wfx.nSamplesPerSec = format.SamplesPerSec;
  wfx.nAvgBytesPerSec = format.AvgBytesPerSec;
  wfx.nBlockAlign = format.BlockAlign;
  wfx.wBitsPerSample = format.BitsPerSample;
  return wfx;
}

// A callback under way finishes in moments; this only guards against one that never does.
constexpr uint32_t kCallbackWaitMs = 100;

constexpr UINT kBlocksReturnedMessage = WM_APP + 0x31;

Result ResultOf(MMRESULT code) {
  return static_cast<Result>(code);
}

// The driver's thread: a returned block (filled or reset) is marked done for the owner. The
// block is the owner's again only after the last step: from then on it may be freed.
void CALLBACK OnWaveIn(HWAVEIN, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR) {
  if (message != WIM_DATA)
    return;
  const auto* header = reinterpret_cast<const WAVEHDR*>(param1);
  auto* driverBlock = reinterpret_cast<DriverBlock*>(header->dwUser);
  auto* stream = reinterpret_cast<Win32WaveInput::Stream*>(instance);
  driverBlock->place.store(BlockPlace::Returning, std::memory_order_release);
  WaveHeader* block = driverBlock->block;
  block->BytesRecorded = header->dwBytesRecorded;
  block->Flags = (block->Flags & ~wave_header::kInQueue) | wave_header::kDone;
  if (stream->onDone)
    stream->onDone(*block);
  driverBlock->place.store(BlockPlace::Owner, std::memory_order_release);
  // PostMessage is one of the few calls a waveIn callback may make.
  if (stream->window != nullptr && !stream->readyPosted.exchange(true, std::memory_order_acq_rel))
    PostMessageW(stream->window, kBlocksReturnedMessage, stream->handle, 0);
}

LRESULT CALLBACK ReadyWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kBlocksReturnedMessage) {
    auto* input = reinterpret_cast<Win32WaveInput*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (input != nullptr)
      input->BlocksReturned(static_cast<WaveInHandle>(wParam));
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// A message-only window on the calling thread whose procedure tells `input` of returned blocks;
// nullptr when none can be made.
HWND MakeReadyWindow(Win32WaveInput* input) {
  static const wchar_t* const kClass = L"CalvoraWaveInReady";
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = ReadyWindowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = kClass;
  RegisterClassW(&windowClass);  // fails harmlessly once registered
  HWND window = CreateWindowExW(0, kClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                windowClass.hInstance, nullptr);
  if (window != nullptr)
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(input));
  return window;
}

// Waits while a block is on its way back; false if it is still queued, or still on its way
// after `limitMs`.
bool WaitUntilBack(const std::atomic<BlockPlace>& place, uint32_t limitMs) {
  const ULONGLONG deadline = GetTickCount64() + limitMs;
  for (;;) {
    const BlockPlace now = place.load(std::memory_order_acquire);
    if (now != BlockPlace::Returning)
      return now == BlockPlace::Owner;
    if (GetTickCount64() >= deadline)
      return false;
    Sleep(0);
  }
}

}  // namespace

Win32WaveInput::Win32WaveInput() : Win32WaveInput(Win32WaveInDriver::System()) {}

Win32WaveInput::Win32WaveInput(const Win32WaveInDriver& driver, uint32_t resetWaitMs)
    : driver_(driver), window_(MakeReadyWindow(this)), resetWaitMs_(resetWaitMs) {}

void Win32WaveInput::BlocksReturned(WaveInHandle handle) {
  Stream* stream = Find(handle);
  if (stream == nullptr)
    return;  // closed since: its blocks went back through Reset
  // Cleared first: a block returned from here on posts a message of its own.
  stream->readyPosted.store(false, std::memory_order_release);
  const WaveReadyCallback ready = stream->onReady;  // the owner may close the stream
  if (ready)
    ready();
}

Win32WaveInput::~Win32WaveInput() {
  for (auto& [handle, stream] : streams_) {
    driver_.reset(stream->wave);
    if (!WaitForReturns(*stream)) {
      // The driver may still call back into the stream and write into its blocks: both are
      // left to it, and the device stays open.
      (void)stream.release();
      continue;
    }
    for (auto& [block, driverBlock] : stream->headers)
      driver_.unprepareHeader(stream->wave, &driverBlock->header, sizeof(WAVEHDR));
    driver_.close(stream->wave);
  }
  if (window_ != nullptr)
    DestroyWindow(window_);
}

bool Win32WaveInput::WaitForReturns(const Stream& stream) const {
  const ULONGLONG deadline = GetTickCount64() + resetWaitMs_;
  while (stream.AnyWithDriver()) {
    if (GetTickCount64() >= deadline)
      return false;
    Sleep(1);
  }
  return true;
}

Win32WaveInput::Stream* Win32WaveInput::Find(WaveInHandle handle) {
  const auto it = streams_.find(handle);
  return it == streams_.end() ? nullptr : it->second.get();
}

uint32_t Win32WaveInput::DeviceCount() {
  return driver_.getNumDevs();
}

Result Win32WaveInput::GetDeviceCaps(uint32_t device, WaveInCaps& caps) {
  WAVEINCAPSW found{};
  const MMRESULT code = driver_.getDevCaps(device, &found, sizeof found);
  if (code != MMSYSERR_NOERROR)
    return ResultOf(code);
  caps.Name = Narrow(found.szPname);
  caps.Formats = found.dwFormats;
  caps.Channels = found.wChannels;
  return result::kOk;
}

Result Win32WaveInput::QueryFormat(uint32_t device, const WaveFormat& format) {
  const WAVEFORMATEX wfx = ToWaveFormatEx(format);
  return ResultOf(driver_.open(nullptr, device, &wfx, 0, 0, WAVE_FORMAT_QUERY));
}

Result Win32WaveInput::Open(WaveInHandle& handle, uint32_t device, const WaveFormat& format,
                            WaveDoneCallback onDone, WaveReadyCallback onReady) {
  auto stream = std::make_unique<Stream>();
  stream->onDone = std::move(onDone);
  stream->onReady = std::move(onReady);
  stream->window = stream->onReady ? window_ : nullptr;
  stream->handle = nextHandle_;
  const WAVEFORMATEX wfx = ToWaveFormatEx(format);
  const MMRESULT code =
      driver_.open(&stream->wave, device, &wfx, reinterpret_cast<DWORD_PTR>(&OnWaveIn),
                   reinterpret_cast<DWORD_PTR>(stream.get()), CALLBACK_FUNCTION);
  if (code != MMSYSERR_NOERROR)
    return ResultOf(code);
  handle = nextHandle_++;
  streams_.emplace(handle, std::move(stream));
  return result::kOk;
}

Result Win32WaveInput::Start(WaveInHandle handle) {
  Stream* stream = Find(handle);
  return stream ? ResultOf(driver_.start(stream->wave)) : result::kInvalidHandle;
}

Result Win32WaveInput::PrepareHeader(WaveInHandle handle, WaveHeader& block) {
  Stream* stream = Find(handle);
  if (!stream)
    return result::kInvalidHandle;
  if (stream->headers.count(&block) != 0)
    return result::kOk;  // prepared already
  auto driverBlock = std::make_unique<DriverBlock>();
  driverBlock->header.lpData = block.Data;
  driverBlock->header.dwBufferLength = block.BufferLength;
  driverBlock->header.dwUser = reinterpret_cast<DWORD_PTR>(driverBlock.get());
  driverBlock->block = &block;
  const MMRESULT code = driver_.prepareHeader(stream->wave, &driverBlock->header, sizeof(WAVEHDR));
  if (code != MMSYSERR_NOERROR)
    return ResultOf(code);
  stream->headers.emplace(&block, std::move(driverBlock));
  block.Flags |= wave_header::kPrepared;
  return result::kOk;
}

Result Win32WaveInput::AddBuffer(WaveInHandle handle, WaveHeader& block) {
  Stream* stream = Find(handle);
  if (!stream)
    return result::kInvalidHandle;
  const auto it = stream->headers.find(&block);
  if (it == stream->headers.end())
    return result::kUnprepared;
  DriverBlock& driverBlock = *it->second;
  if (driverBlock.place.load(std::memory_order_acquire) != BlockPlace::Owner)
    return result::kStillPlaying;
  // Marked before the driver has it: from the call on, only the callback writes the flags.
  block.BytesRecorded = 0;
  block.Flags = (block.Flags & ~wave_header::kDone) | wave_header::kInQueue;
  driverBlock.place.store(BlockPlace::Driver, std::memory_order_release);
  const MMRESULT code = driver_.addBuffer(stream->wave, &driverBlock.header, sizeof(WAVEHDR));
  if (code != MMSYSERR_NOERROR) {
    driverBlock.place.store(BlockPlace::Owner, std::memory_order_release);
    block.Flags &= ~wave_header::kInQueue;
    return ResultOf(code);
  }
  return result::kOk;
}

Result Win32WaveInput::UnprepareHeader(WaveInHandle handle, WaveHeader& block) {
  Stream* stream = Find(handle);
  if (!stream)
    return result::kInvalidHandle;
  const auto it = stream->headers.find(&block);
  if (it == stream->headers.end())
    return result::kOk;  // not prepared: nothing to undo
  DriverBlock& driverBlock = *it->second;
  // The owner may see the done mark while the callback is still finishing: that takes
  // moments. A block still queued stays the driver's.
  if (!WaitUntilBack(driverBlock.place, kCallbackWaitMs))
    return result::kStillPlaying;
  const MMRESULT code = driver_.unprepareHeader(stream->wave, &driverBlock.header, sizeof(WAVEHDR));
  if (code != MMSYSERR_NOERROR)
    return ResultOf(code);
  stream->headers.erase(it);
  block.Flags &= ~wave_header::kPrepared;
  return result::kOk;
}

Result Win32WaveInput::Reset(WaveInHandle handle) {
  Stream* stream = Find(handle);
  if (!stream)
    return result::kInvalidHandle;
  const MMRESULT code = driver_.reset(stream->wave);
  if (code != MMSYSERR_NOERROR)
    return ResultOf(code);
  return WaitForReturns(*stream) ? result::kOk : result::kStillPlaying;
}

Result Win32WaveInput::Stop(WaveInHandle handle) {
  Stream* stream = Find(handle);
  return stream ? ResultOf(driver_.stop(stream->wave)) : result::kInvalidHandle;
}

Result Win32WaveInput::Close(WaveInHandle handle) {
  Stream* stream = Find(handle);
  if (!stream)
    return result::kInvalidHandle;
  if (stream->AnyWithDriver())
    return result::kStillPlaying;
  for (auto& [block, driverBlock] : stream->headers) {
    driver_.unprepareHeader(stream->wave, &driverBlock->header, sizeof(WAVEHDR));
    block->Flags &= ~wave_header::kPrepared;
  }
  const MMRESULT code = driver_.close(stream->wave);
  if (code != MMSYSERR_NOERROR)
    return ResultOf(code);
  streams_.erase(handle);
  return result::kOk;
}

}  // namespace calvora::platform::win32
