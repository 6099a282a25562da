#include "platform/win32/Win32WaveInput.h"

// clang-format off
#include <windows.h>
#include <mmsystem.h>
// clang-format on

#include "platform/win32/WideText.h"

namespace calvora::platform::win32 {

struct Win32WaveInput::Stream {
  HWAVEIN wave = nullptr;
  WaveDoneCallback onDone;
  // The driver's header of every prepared seam block.
  std::map<WaveHeader*, std::unique_ptr<WAVEHDR>> headers;
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

Result ResultOf(MMRESULT code) {
  return static_cast<Result>(code);
}

// The driver's thread: a returned block (filled or reset) is marked done for the owner.
void CALLBACK OnWaveIn(HWAVEIN, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR) {
  if (message != WIM_DATA)
    return;
  const auto* header = reinterpret_cast<const WAVEHDR*>(param1);
  auto* block = reinterpret_cast<WaveHeader*>(header->dwUser);
  auto* stream = reinterpret_cast<Win32WaveInput::Stream*>(instance);
  block->BytesRecorded = header->dwBytesRecorded;
  block->Flags = (block->Flags & ~wave_header::kInQueue) | wave_header::kDone;
  if (stream->onDone)
    stream->onDone(*block);
}

}  // namespace

Win32WaveInput::Win32WaveInput() = default;

Win32WaveInput::~Win32WaveInput() {
  for (auto& [handle, stream] : streams_) {
    waveInReset(stream->wave);
    for (auto& [block, header] : stream->headers)
      waveInUnprepareHeader(stream->wave, header.get(), sizeof(WAVEHDR));
    waveInClose(stream->wave);
  }
}

Win32WaveInput::Stream* Win32WaveInput::Find(WaveInHandle handle) {
  const auto it = streams_.find(handle);
  return it == streams_.end() ? nullptr : it->second.get();
}

uint32_t Win32WaveInput::DeviceCount() {
  return waveInGetNumDevs();
}

Result Win32WaveInput::GetDeviceCaps(uint32_t device, WaveInCaps& caps) {
  WAVEINCAPSW found{};
  const MMRESULT code = waveInGetDevCapsW(device, &found, sizeof found);
  if (code != MMSYSERR_NOERROR)
    return ResultOf(code);
  caps.Name = Narrow(found.szPname);
  caps.Formats = found.dwFormats;
  caps.Channels = found.wChannels;
  return result::kOk;
}

Result Win32WaveInput::QueryFormat(uint32_t device, const WaveFormat& format) {
  const WAVEFORMATEX wfx = ToWaveFormatEx(format);
  return ResultOf(waveInOpen(nullptr, device, &wfx, 0, 0, WAVE_FORMAT_QUERY));
}

Result Win32WaveInput::Open(WaveInHandle& handle, uint32_t device, const WaveFormat& format,
                            WaveDoneCallback onDone) {
  auto stream = std::make_unique<Stream>();
  stream->onDone = std::move(onDone);
  const WAVEFORMATEX wfx = ToWaveFormatEx(format);
  const MMRESULT code =
      waveInOpen(&stream->wave, device, &wfx, reinterpret_cast<DWORD_PTR>(&OnWaveIn),
                 reinterpret_cast<DWORD_PTR>(stream.get()), CALLBACK_FUNCTION);
  if (code != MMSYSERR_NOERROR)
    return ResultOf(code);
  handle = nextHandle_++;
  streams_.emplace(handle, std::move(stream));
  return result::kOk;
}

Result Win32WaveInput::Start(WaveInHandle handle) {
  Stream* stream = Find(handle);
  return stream ? ResultOf(waveInStart(stream->wave)) : result::kInvalidHandle;
}

Result Win32WaveInput::PrepareHeader(WaveInHandle handle, WaveHeader& block) {
  Stream* stream = Find(handle);
  if (!stream)
    return result::kInvalidHandle;
  if (stream->headers.count(&block) != 0)
    return result::kOk;  // prepared already
  auto header = std::make_unique<WAVEHDR>();
  header->lpData = block.Data;
  header->dwBufferLength = block.BufferLength;
  header->dwUser = reinterpret_cast<DWORD_PTR>(&block);
  const MMRESULT code = waveInPrepareHeader(stream->wave, header.get(), sizeof(WAVEHDR));
  if (code != MMSYSERR_NOERROR)
    return ResultOf(code);
  stream->headers.emplace(&block, std::move(header));
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
  if ((block.Flags & wave_header::kInQueue) != 0)
    return result::kStillPlaying;
  // Marked before the driver has it: from the call on, only the callback writes the flags.
  block.BytesRecorded = 0;
  block.Flags = (block.Flags & ~wave_header::kDone) | wave_header::kInQueue;
  const MMRESULT code = waveInAddBuffer(stream->wave, it->second.get(), sizeof(WAVEHDR));
  if (code != MMSYSERR_NOERROR) {
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
  const MMRESULT code = waveInUnprepareHeader(stream->wave, it->second.get(), sizeof(WAVEHDR));
  if (code != MMSYSERR_NOERROR)
    return ResultOf(code);
  stream->headers.erase(it);
  block.Flags &= ~wave_header::kPrepared;
  return result::kOk;
}

Result Win32WaveInput::Reset(WaveInHandle handle) {
  Stream* stream = Find(handle);
  return stream ? ResultOf(waveInReset(stream->wave)) : result::kInvalidHandle;
}

Result Win32WaveInput::Stop(WaveInHandle handle) {
  Stream* stream = Find(handle);
  return stream ? ResultOf(waveInStop(stream->wave)) : result::kInvalidHandle;
}

Result Win32WaveInput::Close(WaveInHandle handle) {
  Stream* stream = Find(handle);
  if (!stream)
    return result::kInvalidHandle;
  for (auto& [block, header] : stream->headers) {
    if ((header->dwFlags & WHDR_INQUEUE) != 0)
      return result::kStillPlaying;
  }
  for (auto& [block, header] : stream->headers) {
    waveInUnprepareHeader(stream->wave, header.get(), sizeof(WAVEHDR));
    block->Flags &= ~wave_header::kPrepared;
  }
  const MMRESULT code = waveInClose(stream->wave);
  if (code != MMSYSERR_NOERROR)
    return ResultOf(code);
  streams_.erase(handle);
  return result::kOk;
}

}  // namespace calvora::platform::win32
