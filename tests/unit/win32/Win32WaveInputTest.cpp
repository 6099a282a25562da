// Win32WaveInput on a driver of the test's own, which returns the queued blocks when the test
// says: at once on waveInReset, a while after it (as real drivers may), or never (a broken
// one). The capture is stopped on it as the main window stops it.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "audio/WaveCapture.h"
#include "platform/win32/Win32WaveInDriver.h"
#include "platform/win32/Win32WaveInput.h"

namespace {

using calvora::audio::TWaveCapture;
using calvora::platform::WaveHeader;
using calvora::platform::win32::Win32WaveInDriver;
using calvora::platform::win32::Win32WaveInput;
namespace result = calvora::platform::result;

enum class OnReset { ReturnAtOnce, ReturnLate, Keep };

// The driver's state; its functions are plain functions, so it is one for the process.
struct FakeDriver {
  std::mutex lock;
  std::vector<WAVEHDR*> queued;
  DWORD_PTR callback = 0;
  DWORD_PTR instance = 0;
  OnReset onReset = OnReset::ReturnAtOnce;
  std::thread returner;
  std::atomic<int> unprepareCalls{0};
  std::atomic<int> unpreparedWhileQueued{0};
  std::atomic<int> closeCalls{0};

  // Returns every queued block filled, as the driver's thread does.
  void ReturnAll() {
    std::vector<WAVEHDR*> blocks;
    {
      const std::lock_guard<std::mutex> guard(lock);
      blocks.swap(queued);
    }
    using Callback = void(CALLBACK*)(HWAVEIN, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR);
    for (WAVEHDR* header : blocks) {
      std::fill_n(header->lpData, header->dwBufferLength, '\x11');
      header->dwBytesRecorded = header->dwBufferLength;
      header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
      reinterpret_cast<Callback>(callback)(nullptr, WIM_DATA, instance,
                                           reinterpret_cast<DWORD_PTR>(header), 0);
    }
  }
  void ReturnAllLater(int ms) {
    returner = std::thread([this, ms] {
      Sleep(static_cast<DWORD>(ms));
      ReturnAll();
    });
  }
  size_t QueuedCount() {
    const std::lock_guard<std::mutex> guard(lock);
    return queued.size();
  }
};

FakeDriver fake;
const auto kDevice = reinterpret_cast<HWAVEIN>(static_cast<uintptr_t>(0x5157));

UINT WINAPI FakeNumDevs() {
  return 1;
}
MMRESULT WINAPI FakeCaps(UINT_PTR, LPWAVEINCAPSW caps, UINT) {
  *caps = WAVEINCAPSW{};
  caps->szPname[0] = L'F';
  caps->dwFormats = WAVE_FORMAT_4S16;
  caps->wChannels = 2;
  return MMSYSERR_NOERROR;
}
MMRESULT WINAPI FakeOpen(LPHWAVEIN wave, UINT, LPCWAVEFORMATEX, DWORD_PTR callback,
                         DWORD_PTR instance, DWORD) {
  if (wave == nullptr)
    return MMSYSERR_NOERROR;  // format query
  *wave = kDevice;
  fake.callback = callback;
  fake.instance = instance;
  return MMSYSERR_NOERROR;
}
MMRESULT WINAPI FakeStart(HWAVEIN) {
  return MMSYSERR_NOERROR;
}
MMRESULT WINAPI FakePrepare(HWAVEIN, LPWAVEHDR header, UINT) {
  header->dwFlags |= WHDR_PREPARED;
  return MMSYSERR_NOERROR;
}
MMRESULT WINAPI FakeAdd(HWAVEIN, LPWAVEHDR header, UINT) {
  header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
  const std::lock_guard<std::mutex> guard(fake.lock);
  fake.queued.push_back(header);
  return MMSYSERR_NOERROR;
}
MMRESULT WINAPI FakeUnprepare(HWAVEIN, LPWAVEHDR header, UINT) {
  ++fake.unprepareCalls;
  if ((header->dwFlags & WHDR_INQUEUE) != 0) {
    ++fake.unpreparedWhileQueued;
    return WAVERR_STILLPLAYING;
  }
  header->dwFlags &= ~WHDR_PREPARED;
  return MMSYSERR_NOERROR;
}
MMRESULT WINAPI FakeReset(HWAVEIN) {
  switch (fake.onReset) {
    case OnReset::ReturnAtOnce:
      fake.ReturnAll();
      break;
    case OnReset::ReturnLate:
      fake.ReturnAllLater(60);
      break;
    case OnReset::Keep:
      break;
  }
  return MMSYSERR_NOERROR;
}
MMRESULT WINAPI FakeStop(HWAVEIN) {
  return MMSYSERR_NOERROR;
}
MMRESULT WINAPI FakeClose(HWAVEIN) {
  ++fake.closeCalls;
  return fake.QueuedCount() == 0 ? MMSYSERR_NOERROR : WAVERR_STILLPLAYING;
}

const Win32WaveInDriver kFakeDriver{&FakeNumDevs, &FakeCaps, &FakeOpen,      &FakeStart,
                                    &FakePrepare, &FakeAdd,  &FakeUnprepare, &FakeReset,
                                    &FakeStop,    &FakeClose};

constexpr uint32_t kResetWaitMs = 200;

class Win32WaveInputOnLateDriver : public ::testing::Test {
 protected:
  void SetUp() override {
    fake.queued.clear();
    fake.onReset = OnReset::ReturnAtOnce;
    fake.unprepareCalls = 0;
    fake.unpreparedWhileQueued = 0;
    fake.closeCalls = 0;
  }
  void TearDown() override {
    if (fake.returner.joinable())
      fake.returner.join();
  }

  // A capture with the main window's geometry at 44.1 kHz, started and with its queue full.
  std::unique_ptr<TWaveCapture> RunningCapture() {
    auto capture = std::make_unique<TWaveCapture>(input);
    capture->SampleRate = 44100;
    capture->BufferSize = 1764;
    capture->SetQueueBytes(capture->BufferSize * 16);
    EXPECT_EQ(capture->Start(), 0);
    capture->Poll();
    EXPECT_EQ(fake.QueuedCount(), 17u);
    return capture;
  }

  static double MsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
  }

  // Runs the messages waiting for this thread, as the main loop does.
  static int PumpMessages() {
    int dispatched = 0;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      DispatchMessageW(&message);
      ++dispatched;
    }
    return dispatched;
  }

  Win32WaveInput input{kFakeDriver, kResetWaitMs};
};

TEST_F(Win32WaveInputOnLateDriver, StopWaitsForBlocksReturnedAfterTheResetAndThenFreesThem) {
  for (const OnReset onReset : {OnReset::ReturnAtOnce, OnReset::ReturnLate}) {
    SetUp();
    auto capture = RunningCapture();
    fake.onReset = onReset;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(capture->Stop(), 0);
    const double took = MsSince(start);
    EXPECT_EQ(fake.unprepareCalls.load(), 17);
    EXPECT_EQ(fake.unpreparedWhileQueued.load(), 0);
    EXPECT_EQ(fake.closeCalls.load(), 1);
    if (onReset == OnReset::ReturnLate)
      EXPECT_GE(took, 50.0);
    else
      EXPECT_LT(took, 50.0);
    TearDown();
  }
}

TEST_F(Win32WaveInputOnLateDriver, BlocksADriverNeverReturnsAreKeptForItAndTheWaitIsBounded) {
  auto capture = RunningCapture();
  fake.onReset = OnReset::Keep;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(capture->Stop(), 0);
  const double took = MsSince(start);
  EXPECT_GE(took, kResetWaitMs - 20.0);
  EXPECT_LT(took, kResetWaitMs + 500.0);
  EXPECT_FALSE(capture->Active);
  // Neither unprepared nor closed under the driver's feet.
  EXPECT_EQ(fake.unprepareCalls.load(), 0);
  EXPECT_EQ(fake.closeCalls.load(), 0);

  // When it does return them at last, it writes into them: they are still there.
  fake.ReturnAll();
  capture.reset();
}

TEST_F(Win32WaveInputOnLateDriver, BlocksBackOnTheDriversThreadAreCollectedByTheMainLoopAtOnce) {
  ASSERT_TRUE(input.ReadyOnMainThread());
  PumpMessages();
  std::unique_ptr<TWaveCapture> capture = RunningCapture();
  int blocks = 0;
  capture->OnData = [&blocks](TWaveCapture&, const char*, int32_t) { ++blocks; };
  // The driver's thread returns all 17: marked there, collected only on this thread.
  fake.ReturnAllLater(0);
  fake.returner.join();
  EXPECT_EQ(blocks, 0);
  // One message for them all, and its handler polls: every block out, the queue full again.
  EXPECT_EQ(PumpMessages(), 1);
  EXPECT_EQ(blocks, 17);
  EXPECT_EQ(fake.QueuedCount(), 17u);
  // The blocks a stop returns post a message too; it finds the device closed and does nothing.
  capture->Stop();
  EXPECT_EQ(PumpMessages(), 1);
  EXPECT_EQ(blocks, 17);
  capture.reset();
}

TEST_F(Win32WaveInputOnLateDriver, ResetThatTimesOutRefusesUnprepareAndCloseUntilTheBlocksReturn) {
  calvora::platform::WaveInHandle handle = calvora::platform::kNoWaveIn;
  ASSERT_EQ(input.Open(
                handle, 0, {}, [](WaveHeader& block) { block.User = 1; }, nullptr),
            0);
  std::array<std::array<char, 64>, 3> data{};
  std::array<WaveHeader, 3> blocks;
  for (size_t i = 0; i < blocks.size(); ++i) {
    blocks[i].Data = data[i].data();
    blocks[i].BufferLength = static_cast<uint32_t>(data[i].size());
    ASSERT_EQ(input.PrepareHeader(handle, blocks[i]), 0);
    ASSERT_EQ(input.AddBuffer(handle, blocks[i]), 0);
  }
  fake.onReset = OnReset::Keep;
  EXPECT_EQ(input.Reset(handle), result::kStillPlaying);
  EXPECT_EQ(input.UnprepareHeader(handle, blocks[0]), result::kStillPlaying);
  EXPECT_EQ(input.Close(handle), result::kStillPlaying);
  EXPECT_EQ(fake.unprepareCalls.load(), 0);
  EXPECT_EQ(fake.closeCalls.load(), 0);

  fake.ReturnAll();
  for (WaveHeader& block : blocks) {
    EXPECT_EQ(block.User.load(), 1u);
    EXPECT_EQ(input.UnprepareHeader(handle, block), 0);
  }
  EXPECT_EQ(input.Close(handle), 0);
  EXPECT_EQ(fake.closeCalls.load(), 1);
}

TEST_F(Win32WaveInputOnLateDriver, ABlockSeenDoneWhileItsCallbackStillRunsIsWaitedFor) {
  std::atomic<bool> callbackFinished{false};
  calvora::platform::WaveInHandle handle = calvora::platform::kNoWaveIn;
  ASSERT_EQ(input.Open(
                handle, 0, {},
                [&](WaveHeader& block) {
                  block.User = 1;
                  Sleep(40);  // the driver's thread is held up right after the mark
                  callbackFinished = true;
                },
                nullptr),
            0);
  std::array<char, 64> data{};
  WaveHeader block;
  block.Data = data.data();
  block.BufferLength = static_cast<uint32_t>(data.size());
  ASSERT_EQ(input.PrepareHeader(handle, block), 0);
  ASSERT_EQ(input.AddBuffer(handle, block), 0);
  fake.ReturnAllLater(0);
  while (block.User.load() != 1)
    Sleep(0);
  EXPECT_EQ(input.UnprepareHeader(handle, block), 0);
  EXPECT_TRUE(callbackFinished.load());
  EXPECT_EQ(input.Close(handle), 0);
}

}  // namespace
