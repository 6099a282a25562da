#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "WaveCaptureFixture.h"
#include "audio/Level.h"
#include "audio/WaveCapture.h"
#include "platform/win32/Win32WaveInput.h"

namespace calvora::audio {
namespace {

using Clock = std::chrono::steady_clock;

// The capture on waveIn, recording from the virtual card's -20 dBFS tone through Wine.
class Win32WaveCapture : public testing::WaveCaptureFixture<platform::win32::Win32WaveInput> {
 protected:
  int32_t StartCapture(int32_t rate) {
    capture = std::make_unique<TWaveCapture>(input);
    capture->RefreshDevices();
    // Wine's driver offers ALSA's default device, which is the virtual card here.
    EXPECT_EQ(capture->DeviceCount(), 1);
    EXPECT_EQ(capture->DeviceName(0), "In: default");
    return StartDevice(0, rate);
  }
};

TEST_F(Win32WaveCapture, ToneAtMinus20ArrivesIn10MsBlocksAbout100ASecond) {
  ASSERT_EQ(StartCapture(48000), 0);
  ASSERT_TRUE(PollUntil(std::chrono::milliseconds(5000), [&] { return levels.size() >= 10; }));
  const size_t before = blockSizes.size();
  const auto start = Clock::now();
  PollUntil(std::chrono::milliseconds(2000), [] { return false; });
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  const double perSecond = static_cast<double>(blockSizes.size() - before) / seconds;
  EXPECT_GT(perSecond, 70);
  EXPECT_LT(perSecond, 130);
  for (int32_t size : blockSizes)
    ASSERT_EQ(size, 1920);
  for (size_t i = 5; i < levels.size(); ++i) {
    ASSERT_NEAR(levels[i][0], -20.0, 0.1) << i;
    ASSERT_NEAR(levels[i][1], -20.0, 0.1) << i;
  }
  EXPECT_TRUE(errors.empty());
  capture->Stop();
  EXPECT_FALSE(capture->Active);
}

TEST_F(Win32WaveCapture, ResetReturnsEveryQueuedBlockAndOnlyThenMayTheyBeReleased) {
  platform::WaveFormat format;
  format.SamplesPerSec = 48000;
  format.AvgBytesPerSec = 192000;
  std::atomic<int> returned{0};
  platform::WaveInHandle handle = platform::kNoWaveIn;
  ASSERT_EQ(input.Open(
                handle, 0, format, [&](platform::WaveHeader&) { ++returned; }, nullptr),
            0);

  std::array<std::array<char, 1920>, 4> data{};
  std::array<platform::WaveHeader, 4> blocks;
  for (size_t i = 0; i < blocks.size(); ++i) {
    blocks[i].Data = data[i].data();
    blocks[i].BufferLength = static_cast<uint32_t>(data[i].size());
    ASSERT_EQ(input.PrepareHeader(handle, blocks[i]), 0);
    ASSERT_EQ(input.AddBuffer(handle, blocks[i]), 0);
  }
  EXPECT_EQ(input.AddBuffer(handle, blocks[0]), platform::result::kStillPlaying);
  EXPECT_EQ(input.UnprepareHeader(handle, blocks[3]), platform::result::kStillPlaying);
  EXPECT_EQ(input.Close(handle), platform::result::kStillPlaying);

  ASSERT_EQ(input.Start(handle), 0);
  ASSERT_EQ(input.Reset(handle), 0);
  EXPECT_EQ(returned.load(), 4);
  for (platform::WaveHeader& block : blocks) {
    EXPECT_EQ(block.Flags & platform::wave_header::kInQueue, 0u);
    EXPECT_NE(block.Flags & platform::wave_header::kDone, 0u);
    EXPECT_EQ(input.UnprepareHeader(handle, block), 0);
    EXPECT_EQ(block.Flags & platform::wave_header::kPrepared, 0u);
  }
  EXPECT_EQ(input.Close(handle), 0);
  EXPECT_EQ(input.Start(handle), platform::result::kInvalidHandle);
}

}  // namespace
}  // namespace calvora::audio
