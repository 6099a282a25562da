#include "audio/WaveCapture.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "VirtualWaveInput.h"
#include "audio/Level.h"

namespace calvora::audio {
namespace {

using testing::VirtualWaveInput;
namespace result = platform::result;

struct Delivery {
  std::vector<char> Bytes;
  double Left;
  double Right;
};

class WaveCapture : public ::testing::Test {
 protected:
  WaveCapture() { input.Devices = {{.Name = "Line In"}, {.Name = "USB Audio"}}; }

  // A capture with the main window's geometry for `rate`, started on device `index`.
  std::unique_ptr<TWaveCapture> Started(int32_t rate = 48000, int32_t index = 0) {
    auto capture = std::make_unique<TWaveCapture>(input);
    capture->SelectDevice(index);
    capture->SampleRate = rate;
    capture->BufferSize = rate * 4 / 100;
    capture->SetQueueBytes(capture->BufferSize * 16);
    capture->OnData = [this](TWaveCapture& sender, const char* data, int32_t count) {
      delivered.push_back(
          {std::vector<char>(data, data + count), sender.LeftLevel(), sender.RightLevel()});
    };
    capture->OnError = [this](TWaveCapture&, uint32_t code) { errors.push_back(code); };
    EXPECT_EQ(capture->Start(), 0);
    return capture;
  }

  VirtualWaveInput input;
  std::vector<Delivery> delivered;
  std::vector<uint32_t> errors;
};

TEST_F(WaveCapture, ListsOnlyDevicesThatRecord44kStereo16BitWithTrimmedNames) {
  input.Devices = {
      {.Name = "  \tFirst card\r\n "},
      {.Name = "48k only", .Formats = platform::wave_format::k48S16},
      {.Name = "Broken", .CapsResult = result::kNoDriver},
      {.Name = "A very long device name that goes past thirty-two characters"},
  };
  TWaveCapture capture(input);
  ASSERT_EQ(capture.DeviceCount(), 2);
  EXPECT_EQ(capture.DeviceName(0), "First card");
  EXPECT_EQ(capture.Devices[0].DeviceID, 0);
  EXPECT_EQ(capture.DeviceName(1), "A very long device name that goe");
  // Skipped devices leave gaps: list index 1 is device number 3.
  EXPECT_EQ(capture.Devices[1].DeviceID, 3);
  EXPECT_EQ(capture.DeviceIndex, 0);
  EXPECT_EQ(capture.DeviceName(-1), "");
  EXPECT_EQ(capture.DeviceName(2), "");
}

TEST_F(WaveCapture, InitialGeometryAndNoDevice) {
  input.Devices.clear();
  TWaveCapture capture(input);
  EXPECT_EQ(capture.DeviceIndex, -1);
  EXPECT_EQ(capture.SampleRate, 44100);
  EXPECT_EQ(capture.BufferSize, 4096);
  EXPECT_EQ(capture.BufferCount, 11);
  EXPECT_EQ(capture.QueueBytes, 45056);
  EXPECT_EQ(capture.Start(), -1);
  EXPECT_EQ(input.QueryCalls, 0);
  EXPECT_FALSE(capture.Active);
}

TEST_F(WaveCapture, QueueHoldsOneBlockMoreThanTheAmount) {
  TWaveCapture capture(input);
  for (int32_t rate : {48000, 44100, 32000}) {
    capture.BufferSize = rate * 4 / 100;
    capture.SetQueueBytes(capture.BufferSize * 16);
    EXPECT_EQ(capture.BufferCount, 17);
    EXPECT_EQ(capture.QueueBytes, 17 * capture.BufferSize);
  }
  capture.BufferSize = 1920;
  capture.SetQueueBytes(1919);
  EXPECT_EQ(capture.BufferCount, 1);
  // A zero block size must not divide by zero.
  capture.BufferSize = 0;
  capture.SetQueueBytes(1000);
  EXPECT_EQ(capture.BufferCount, 1);
  // Amounts at the top of the range do not wrap around to a negative queue.
  capture.BufferSize = 1920;
  capture.SetQueueBytes(INT32_MAX);
  EXPECT_EQ(capture.BufferCount, INT32_MAX / 1920 + 1);
  EXPECT_EQ(capture.QueueBytes, INT32_MAX);
  capture.BufferSize = 1;
  capture.SetQueueBytes(INT32_MAX);
  EXPECT_EQ(capture.BufferCount, INT32_MAX);
}

TEST_F(WaveCapture, NegativeQueueAmountQueuesNothing) {
  auto capture = Started();
  // -10 blocks' worth gives a block count of -9: nothing is kept queued, and the count is
  // not read as a huge unsigned number.
  capture->SetQueueBytes(-10 * capture->BufferSize);
  EXPECT_EQ(capture->BufferCount, -9);
  capture->Poll();
  EXPECT_EQ(input.QueuedCount(), 0u);
  EXPECT_TRUE(errors.empty());
  capture->Stop();
}

TEST_F(WaveCapture, SelectDeviceKeepsChoiceForIndexOutsideList) {
  TWaveCapture capture(input);
  capture.SelectDevice(1);
  capture.SelectDevice(-1);
  capture.SelectDevice(2);
  EXPECT_EQ(capture.DeviceIndex, 1);
  // The choice survives a new listing; beyond the shorter list it cannot start.
  input.Devices.pop_back();
  capture.RefreshDevices();
  EXPECT_EQ(capture.DeviceIndex, 1);
  EXPECT_EQ(capture.Start(), -1);
  EXPECT_EQ(input.OpenCalls, 0);
}

TEST_F(WaveCapture, StartQueriesAndOpensWith16BitStereoPcm) {
  auto capture = Started(44100, 1);
  EXPECT_TRUE(capture->Active);
  EXPECT_EQ(input.LastOpenedDevice, 1u);
  EXPECT_EQ(input.LastFormat.FormatTag, 1);
  EXPECT_EQ(input.LastFormat.Channels, 2);
  EXPECT_EQ(input.LastFormat.SamplesPerSec, 44100u);
  EXPECT_EQ(input.LastFormat.BitsPerSample, 16);
  EXPECT_EQ(input.LastFormat.BlockAlign, 4);
  EXPECT_EQ(input.LastFormat.AvgBytesPerSec, 176400u);
  // Nothing is queued before the first poll, which fills the queue.
  EXPECT_EQ(input.QueuedCount(), 0u);
  capture->Poll();
  EXPECT_EQ(input.QueuedCount(), 17u);
  capture->Stop();
}

TEST_F(WaveCapture, StartFailuresLeaveTheCaptureIdle) {
  input.Devices[0].QueryResult = result::kBadFormat;
  input.Devices[1].OpenResult = result::kAllocated;
  TWaveCapture capture(input);
  EXPECT_EQ(capture.Start(), result::kBadFormat);
  EXPECT_EQ(input.OpenCalls, 0);
  capture.SelectDevice(1);
  EXPECT_EQ(capture.Start(), result::kAllocated);
  EXPECT_FALSE(capture.Active);
  EXPECT_FALSE(input.IsOpen());
}

TEST_F(WaveCapture, SecondStartOrReleaseWhileActiveLeavesNoBlockWithTheDevice) {
  auto capture = Started();
  capture->Poll();
  EXPECT_EQ(capture->Start(), result::kAllocated);
  EXPECT_EQ(input.OpenCalls, 1);
  EXPECT_EQ(input.QueuedCount(), 17u);
  // Released without Stop: the device gives every block back before they are freed.
  capture.reset();
  EXPECT_FALSE(input.IsOpen());
  EXPECT_EQ(input.QueuedCount(), 0u);
}

TEST_F(WaveCapture, FailedDeviceStartCountsAsActiveAndFailsTheFirstPoll) {
  input.Devices[0].StartResult = result::kError;
  TWaveCapture capture(input);
  capture.OnError = [this](TWaveCapture&, uint32_t code) { errors.push_back(code); };
  EXPECT_EQ(capture.Start(), result::kError);
  EXPECT_TRUE(capture.Active);
  capture.Poll();
  EXPECT_EQ(errors, std::vector<uint32_t>{result::kError});
  EXPECT_EQ(input.QueuedCount(), 0u);
  EXPECT_EQ(capture.Stop(), 0);
  EXPECT_FALSE(input.IsOpen());
}

TEST_F(WaveCapture, LevelsOfSilenceSmallestAndFullScalePeaks) {
  auto capture = Started();
  capture->Poll();
  ASSERT_TRUE(input.FillOldest(VirtualWaveInput::Frames(480, 0, 1)));
  capture->Poll();
  ASSERT_EQ(delivered.size(), 1u);
  EXPECT_DOUBLE_EQ(delivered[0].Left, -90.3);
  EXPECT_NEAR(delivered[0].Right, -90.309, 0.0005);
  EXPECT_LT(delivered[0].Right, -90.3);

  // -32768 counts as 32767 and -1 as 0: full scale never reads 0 dB.
  ASSERT_TRUE(input.FillOldest(VirtualWaveInput::Frames(480, -32768, -1)));
  capture->Poll();
  EXPECT_EQ(capture->LeftPeak, 32767);
  EXPECT_EQ(capture->RightPeak, 0);
  EXPECT_NEAR(delivered[1].Left, -0.000265, 0.000001);
  EXPECT_LT(delivered[1].Left, 0.0);
  capture->Stop();
}

TEST_F(WaveCapture, TwoBlocksInOnePollMergePeaksAndIdlePollKeepsThem) {
  auto capture = Started();
  capture->Poll();
  std::vector<char> first = VirtualWaveInput::Frames(480, 1000, 200);
  std::vector<char> second = VirtualWaveInput::Frames(480, 100, 2000);
  input.FillOldest(first);
  input.FillOldest(second);
  capture->Poll();
  ASSERT_EQ(delivered.size(), 2u);
  EXPECT_EQ(delivered[0].Bytes, first);
  EXPECT_DOUBLE_EQ(delivered[0].Left, PeakToDb(1000));
  EXPECT_DOUBLE_EQ(delivered[0].Right, PeakToDb(200));
  EXPECT_EQ(delivered[1].Bytes, second);
  EXPECT_DOUBLE_EQ(delivered[1].Left, PeakToDb(1000));
  EXPECT_DOUBLE_EQ(delivered[1].Right, PeakToDb(2000));
  // The queue is topped up again after every poll.
  EXPECT_EQ(input.QueuedCount(), 17u);

  capture->Poll();
  EXPECT_EQ(delivered.size(), 2u);
  EXPECT_EQ(capture->LeftPeak, 1000);
  EXPECT_EQ(capture->RightPeak, 2000);

  // A new poll starts its peaks afresh.
  input.FillOldest(VirtualWaveInput::Frames(480, 5, 6));
  capture->Poll();
  EXPECT_EQ(capture->LeftPeak, 5);
  EXPECT_EQ(capture->RightPeak, 6);
  capture->Stop();
}

// A device that reports one chosen block back late: its done report is held until the test
// lets it through, while the blocks after it come back as they are filled.
class LateBlockInput : public VirtualWaveInput {
 public:
  platform::Result Open(platform::WaveInHandle& handle, uint32_t device,
                        const platform::WaveFormat& format, platform::WaveDoneCallback onDone,
                        platform::WaveReadyCallback onReady) override {
    report_ = std::move(onDone);
    return VirtualWaveInput::Open(
        handle, device, format,
        [this](platform::WaveHeader& block) {
          if (holdNext) {
            holdNext = false;
            held_ = &block;
            return;
          }
          report_(block);
        },
        std::move(onReady));
  }
  // Reports the held block as returned.
  bool ReportHeld() {
    if (held_ == nullptr)
      return false;
    report_(*held_);
    held_ = nullptr;
    return true;
  }
  bool holdNext = false;

 private:
  platform::WaveDoneCallback report_;
  platform::WaveHeader* held_ = nullptr;
};

TEST_F(WaveCapture, ABlockNotYetReturnedIsSteppedOverAndTheOnesAfterItDelivered) {
  LateBlockInput late;
  late.Devices = input.Devices;
  TWaveCapture capture(late);
  capture.OnData = [this](TWaveCapture&, const char* data, int32_t count) {
    delivered.push_back({std::vector<char>(data, data + count), 0, 0});
  };
  ASSERT_EQ(capture.Start(), 0);
  capture.Poll();
  const std::vector<char> first = VirtualWaveInput::Frames(480, 100, 100);
  const std::vector<char> second = VirtualWaveInput::Frames(480, 200, 200);
  late.holdNext = true;
  late.FillOldest(first);
  late.FillOldest(second);
  capture.Poll();
  ASSERT_EQ(delivered.size(), 1u);
  EXPECT_EQ(delivered[0].Bytes, second);
  EXPECT_EQ(capture.LeftPeak, 200);

  // The late block is collected by the poll after its report.
  ASSERT_TRUE(late.ReportHeld());
  capture.Poll();
  ASSERT_EQ(delivered.size(), 2u);
  EXPECT_EQ(delivered[1].Bytes, first);
  capture.Stop();
  EXPECT_EQ(late.OperationsOnClosedDevice, 0);
}

TEST_F(WaveCapture, TrailingPartialFrameIsDeliveredButNotMeasured) {
  auto capture = Started();
  capture->Poll();
  std::vector<char> bytes = VirtualWaveInput::Frames(2, 10, 20);
  // Three more bytes of a loud frame that never completes.
  bytes.push_back(static_cast<char>(0xFF));
  bytes.push_back(static_cast<char>(0x7F));
  bytes.push_back(static_cast<char>(0xFF));
  input.FillOldest(bytes);
  capture->Poll();
  ASSERT_EQ(delivered.size(), 1u);
  EXPECT_EQ(delivered[0].Bytes.size(), 11u);
  EXPECT_EQ(capture->LeftPeak, 10);
  EXPECT_EQ(capture->RightPeak, 20);
  capture->Stop();
}

TEST_F(WaveCapture, StopDiscardsQueuedBlocksAndSilencesLevels) {
  TWaveCapture idle(input);
  EXPECT_EQ(idle.Stop(), 0);
  EXPECT_EQ(input.ResetCalls, 0);

  auto capture = Started();
  capture->Poll();
  input.FillOldest(VirtualWaveInput::Frames(480, 3000, 3000));
  capture->Poll();
  ASSERT_EQ(delivered.size(), 1u);
  EXPECT_EQ(capture->Stop(), 0);
  EXPECT_FALSE(capture->Active);
  EXPECT_FALSE(input.IsOpen());
  EXPECT_EQ(capture->PendingCount(), 0u);
  EXPECT_DOUBLE_EQ(capture->LeftLevel(), -90.3);
  EXPECT_DOUBLE_EQ(capture->RightLevel(), -90.3);
  capture->Poll();
  EXPECT_EQ(delivered.size(), 1u);
  EXPECT_EQ(input.UnpreparedWhileQueued, 0);
  EXPECT_EQ(input.OperationsOnClosedDevice, 0);

  // It starts again with a fresh queue.
  EXPECT_EQ(capture->Start(), 0);
  EXPECT_EQ(input.QueuedCount(), 0u);
  capture->Poll();
  EXPECT_EQ(input.QueuedCount(), 17u);
  capture->Stop();
}

TEST_F(WaveCapture, StopLeavesBlocksTheDeviceDidNotGiveBackToIt) {
  auto capture = Started();
  capture->Poll();
  ASSERT_EQ(input.QueuedCount(), 17u);
  input.KeepsQueueOnReset = true;
  EXPECT_EQ(capture->Stop(), 0);
  EXPECT_FALSE(capture->Active);
  EXPECT_EQ(capture->PendingCount(), 0u);
  EXPECT_EQ(input.QueuedCount(), 17u);

  // The device returns them late and writes into them: they must still be there. They stay
  // allocated for good; kept here (in a list never released, so that it outlives the
  // program's exit) so that a leak check does not count them.
  static auto* leftWithTheDevice = new std::vector<platform::WaveHeader*>;
  while (platform::WaveHeader* block = input.Oldest()) {
    leftWithTheDevice->push_back(block);
    ASSERT_EQ(block->BufferLength, 1920u);
    ASSERT_TRUE(input.FillOldest(VirtualWaveInput::Frames(480, 100, 100)));
    EXPECT_EQ(block->BytesRecorded, 1920u);
  }
  EXPECT_TRUE(delivered.empty());
}

TEST_F(WaveCapture, UnprepareFailureIsReportedAndTheBlockStillDelivered) {
  auto capture = Started();
  capture->Poll();
  input.UnprepareResult = result::kNoDriver;
  input.FillOldest(VirtualWaveInput::Frames(480, 7, 7));
  capture->Poll();
  EXPECT_EQ(errors, std::vector<uint32_t>{result::kNoDriver});
  EXPECT_EQ(delivered.size(), 1u);
  EXPECT_TRUE(capture->Active);
  input.UnprepareResult = result::kOk;
  capture->Stop();
}

TEST_F(WaveCapture, PrepareFailureStopsRefillingForThisPollOnly) {
  auto capture = Started();
  input.PrepareResult = result::kNoMemory;
  capture->Poll();
  EXPECT_EQ(errors, std::vector<uint32_t>{result::kNoMemory});
  EXPECT_EQ(input.QueuedCount(), 0u);
  input.PrepareResult = result::kOk;
  capture->Poll();
  EXPECT_EQ(input.QueuedCount(), 17u);
  capture->Stop();
}

TEST_F(WaveCapture, HandlerThatStopsTheCaptureLeavesNothingBehind) {
  auto capture = Started();
  capture->Poll();
  // The owner's error handler stops the capture, as the main window's does.
  capture->OnError = [this](TWaveCapture& sender, uint32_t code) {
    errors.push_back(code);
    sender.Stop();
  };
  input.UnprepareResult = result::kNoDriver;
  input.FillOldest(VirtualWaveInput::Frames(480, 9, 9));
  input.FillOldest(VirtualWaveInput::Frames(480, 9, 9));
  capture->Poll();
  EXPECT_EQ(errors.size(), 1u);
  EXPECT_TRUE(delivered.empty());
  EXPECT_FALSE(capture->Active);
  EXPECT_EQ(input.OperationsOnClosedDevice, 0);
  EXPECT_EQ(input.QueuedCount(), 0u);
  EXPECT_DOUBLE_EQ(capture->LeftLevel(), -90.3);

  // A data handler that stops the capture after the first of two blocks.
  input.UnprepareResult = result::kOk;
  ASSERT_EQ(capture->Start(), 0);
  capture->Poll();
  capture->OnData = [this](TWaveCapture& sender, const char*, int32_t) {
    delivered.push_back({});
    sender.Stop();
  };
  input.FillOldest(VirtualWaveInput::Frames(480, 9, 9));
  input.FillOldest(VirtualWaveInput::Frames(480, 9, 9));
  capture->Poll();
  EXPECT_EQ(delivered.size(), 1u);
  EXPECT_EQ(input.OperationsOnClosedDevice, 0);
  EXPECT_FALSE(input.IsOpen());

  // A prepare failure whose handler stops the capture queues nothing more.
  ASSERT_EQ(capture->Start(), 0);
  input.PrepareResult = result::kNoDriver;
  capture->Poll();
  EXPECT_EQ(input.OperationsOnClosedDevice, 0);
  EXPECT_FALSE(capture->Active);
}

TEST_F(WaveCapture, HandlerThatRestartsTheCaptureEndsTheOldWalk) {
  auto capture = Started();
  capture->Poll();
  capture->OnData = [this](TWaveCapture& sender, const char*, int32_t) {
    delivered.push_back({});
    sender.Stop();
    sender.Start();
  };
  input.FillOldest(VirtualWaveInput::Frames(480, 9, 9));
  input.FillOldest(VirtualWaveInput::Frames(480, 9, 9));
  capture->Poll();
  EXPECT_EQ(delivered.size(), 1u);
  EXPECT_TRUE(capture->Active);
  EXPECT_EQ(input.OperationsOnClosedDevice, 0);
  capture->Stop();
}

TEST_F(WaveCapture, NestedPollAndThrowingHandler) {
  auto capture = Started();
  capture->Poll();
  int nested = 0;
  capture->OnData = [&](TWaveCapture& sender, const char*, int32_t) {
    ++nested;
    sender.Poll();  // returns at once
    throw std::runtime_error("handler failed");
  };
  input.FillOldest(VirtualWaveInput::Frames(480, 1, 1));
  input.FillOldest(VirtualWaveInput::Frames(480, 1, 1));
  capture->Poll();
  // The exception ended the poll after the first block; the next poll goes on.
  EXPECT_EQ(nested, 1);
  capture->Poll();
  EXPECT_EQ(nested, 2);
  capture->OnData = nullptr;
  capture->Poll();
  EXPECT_EQ(input.QueuedCount(), 17u);
  capture->Stop();
}

}  // namespace
}  // namespace calvora::audio
