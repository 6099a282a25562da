// The capture and the detector on ALSA, recording from the virtual capture device, which a
// test steers through its control program like any other process would. The device is served
// on Qt's main loop, as in the program.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "WaveCaptureFixture.h"
#include "audio/Level.h"
#include "audio/Silence.h"
#include "audio/WaveCapture.h"
#include "platform/alsa/AlsaWaveInput.h"
#include "platform/qt/QtDescriptorWatches.h"
#include "platform/qt/QtTimers.h"

namespace calvora::audio {
namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kDeviceName = "Calvora Virtual Capture";

// The wave input of the program, on the main loop's descriptor watches and timers.
class LoopedAlsaWaveInput : public platform::alsa::AlsaWaveInput {
 public:
  LoopedAlsaWaveInput() : AlsaWaveInput(watches_, timers_) {}

 private:
  static inline platform::qt::QtDescriptorWatches watches_;
  static inline platform::qt::QtTimers timers_;
};

class AlsaWaveCapture : public testing::WaveCaptureFixture<LoopedAlsaWaveInput> {
 protected:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "calvora_integration_audio";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    // Each test has a device state of its own, in a directory of its own.
    std::string pattern =
        (std::filesystem::temp_directory_path() / "calvora-capture-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    stateDir = pattern;
    setenv("CALVORA_VIRTUAL_CARD_DIR", stateDir.c_str(), 1);
  }
  void TearDown() override {
    WaveCaptureFixture::TearDown();
    std::filesystem::remove_all(stateDir);
  }

  static void Ctl(const std::string& arguments) {
    const std::string command = std::string(CALVORA_CAPTURE_CTL) + " " + arguments;
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }

  // A capture on the virtual device with the main window's geometry for `rate`.
  // The device list is read again first unless `refresh` is false.
  int32_t StartCapture(int32_t rate, bool refresh = true) {
    if (!capture)
      capture = std::make_unique<TWaveCapture>(input);
    if (refresh)
      capture->RefreshDevices();
    int32_t found = -1;
    for (int32_t i = 0; i < capture->DeviceCount(); ++i)
      if (capture->DeviceName(i) == kDeviceName)
        found = i;
    EXPECT_GE(found, 0) << "the virtual device is not listed";
    return StartDevice(found, rate);
  }

  // The device number of the virtual capture device, or -1 when it is not listed.
  int32_t VirtualDeviceId() {
    TWaveCapture listing(input);
    for (const WaveInDevice& d : listing.Devices)
      if (d.Name == kDeviceName)
        return d.DeviceID;
    return -1;
  }

  // 16-bit stereo at 48000 Hz.
  static platform::WaveFormat Format48k() {
    platform::WaveFormat format;
    format.SamplesPerSec = 48000;
    format.AvgBytesPerSec = 192000;
    return format;
  }

  // Opens the virtual device at 48000 Hz directly; `done` counts the blocks returned.
  platform::Result OpenAt48k(platform::WaveInHandle& handle, std::atomic<int>& done) {
    const int32_t device = VirtualDeviceId();
    if (device < 0)
      return platform::result::kBadDeviceId;
    return input.Open(
        handle, static_cast<uint32_t>(device), Format48k(),
        [&done](platform::WaveHeader&) { ++done; }, nullptr);
  }

  void RunLoop(std::chrono::milliseconds time) override {
    QElapsedTimer ran;
    ran.start();
    while (ran.elapsed() < time.count())
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents,
                                      static_cast<int>(time.count() - ran.elapsed()));
  }

  std::string stateDir;
};

TEST_F(AlsaWaveCapture, ListsTheVirtualDeviceByItsDescription) {
  TWaveCapture listing(input);
  std::vector<std::string> names;
  for (int32_t i = 0; i < listing.DeviceCount(); ++i)
    names.push_back(listing.DeviceName(i));
  EXPECT_NE(std::find(names.begin(), names.end(), kDeviceName), names.end());
  platform::WaveInCaps caps;
  const auto index =
      static_cast<size_t>(std::find(names.begin(), names.end(), kDeviceName) - names.begin());
  ASSERT_LT(index, listing.Devices.size());
  ASSERT_EQ(input.GetDeviceCaps(static_cast<uint32_t>(listing.Devices[index].DeviceID), caps), 0);
  EXPECT_NE(caps.Formats & platform::wave_format::k4S16, 0u);
  EXPECT_EQ(caps.Formats & platform::wave_format::k4M16, 0u);
}

TEST_F(AlsaWaveCapture, NamesAreTrimmedCutTo32AndDistinct) {
  // Two more devices whose descriptions differ only past the 32nd character; each test
  // runs in a process of its own, so the configuration can still be extended here.
  const std::string path = std::string(getenv("ALSA_CONFIG_PATH")) + ":" + CALVORA_NAMES_CONF;
  setenv("ALSA_CONFIG_PATH", path.c_str(), 1);
  TWaveCapture listing(input);
  std::vector<std::string> names;
  for (int32_t i = 0; i < listing.DeviceCount(); ++i)
    names.push_back(listing.DeviceName(i));
  auto has = [&](const std::string& name) {
    return std::count(names.begin(), names.end(), name) == 1;
  };
  EXPECT_TRUE(has(kDeviceName));
  EXPECT_TRUE(has("Calvora Twin Capture With A Long")) << ::testing::PrintToString(names);
  EXPECT_TRUE(has("Calvora Twin Capture With A (2)")) << ::testing::PrintToString(names);
}

TEST_F(AlsaWaveCapture, ADeviceBusyWithOurOwnCaptureStaysListed) {
  // A device that can be open only once, as hardware is; each test runs in a process of its
  // own, so the configuration can still be extended here.
  const std::string path = std::string(getenv("ALSA_CONFIG_PATH")) + ":" + CALVORA_EXCLUSIVE_CONF;
  setenv("ALSA_CONFIG_PATH", path.c_str(), 1);
  constexpr const char* kExclusive = "Calvora Exclusive Capture";
  auto listed = [&](const TWaveCapture& lister) {
    for (int32_t i = 0; i < lister.DeviceCount(); ++i)
      if (lister.DeviceName(i) == kExclusive)
        return i;
    return -1;
  };

  capture = std::make_unique<TWaveCapture>(input);
  const int32_t index = listed(*capture);
  ASSERT_GE(index, 0);
  capture->SelectDevice(index);
  capture->SampleRate = 48000;
  capture->BufferSize = 1920;
  capture->SetQueueBytes(1920 * 16);
  capture->OnData = [this](TWaveCapture&, const char*, int32_t count) {
    blockSizes.push_back(count);
  };
  ASSERT_EQ(capture->Start(), 0);
  ASSERT_TRUE(PollUntil(std::chrono::milliseconds(2000), [&] { return !blockSizes.empty(); }));

  // A listing made meanwhile, as the settings dialog makes it, still names the device in
  // use, though a second opener is refused.
  TWaveCapture other(input);
  const int32_t otherIndex = listed(other);
  ASSERT_GE(otherIndex, 0);
  other.SelectDevice(otherIndex);
  EXPECT_NE(other.Start(), 0);
  EXPECT_FALSE(other.Active);
  capture->RefreshDevices();
  EXPECT_GE(listed(*capture), 0);
  EXPECT_TRUE(capture->Active);
}

TEST_F(AlsaWaveCapture, BlocksOf10MsAtEachRateArriveAbout100ASecond) {
  for (int32_t rate : {48000, 44100, 32000}) {
    blockSizes.clear();
    ASSERT_EQ(StartCapture(rate), 0) << rate;
    // The first blocks fill after the first poll queued them; count from the first one on.
    ASSERT_TRUE(PollUntil(std::chrono::milliseconds(2000), [&] { return !blockSizes.empty(); }));
    const size_t before = blockSizes.size();
    const auto start = Clock::now();
    // Two seconds and wide bounds: on a busy machine a late poll or a late main loop
    // shifts a few blocks from one side of the window to the other.
    PollUntil(std::chrono::milliseconds(2000), [] { return false; });
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double perSecond = static_cast<double>(blockSizes.size() - before) / seconds;
    EXPECT_GT(perSecond, 70) << rate;
    EXPECT_LT(perSecond, 130) << rate;
    for (int32_t size : blockSizes)
      ASSERT_EQ(size, rate * 4 / 100) << rate;
    EXPECT_TRUE(errors.empty());
    capture->Stop();
  }
}

TEST_F(AlsaWaveCapture, ToneAtMinus20ReadsMinus20AndSilenceReadsMinus90) {
  Ctl("programme tone -20 1000");
  ASSERT_EQ(StartCapture(44100), 0);
  ASSERT_TRUE(PollUntil(std::chrono::milliseconds(3000), [&] { return levels.size() >= 20; }));
  for (size_t i = 2; i < levels.size(); ++i) {
    ASSERT_NEAR(levels[i][0], -20.0, 0.1) << i;
    ASSERT_NEAR(levels[i][1], -20.0, 0.1) << i;
  }

  Ctl("programme silence");
  // Blocks recorded before the switch are still queued; the later ones are silent.
  ASSERT_TRUE(PollUntil(std::chrono::milliseconds(3000), [&] {
    return levels.size() > 40 && levels.back()[0] == -90.3 && levels.back()[1] == -90.3;
  }));
  EXPECT_TRUE(errors.empty());
}

TEST_F(AlsaWaveCapture, AWaveFileKeepsItsChannelsApart) {
  // One second of a square wave of 1000 on the left, and a steady -2000 on the right.
  const int frames = 48000;
  std::vector<int16_t> samples(static_cast<size_t>(frames) * 2);
  for (int f = 0; f < frames; ++f) {
    const int sign = (f / 24) % 2 == 0 ? 1 : -1;
    samples[static_cast<size_t>(f) * 2] = static_cast<int16_t>(sign * 1000);
    samples[static_cast<size_t>(f) * 2 + 1] = -2000;
  }
  const std::string path = stateDir + "/square.wav";
  FILE* file = fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  auto put32 = [&](uint32_t v) { fwrite(&v, 4, 1, file); };
  auto put16 = [&](uint16_t v) { fwrite(&v, 2, 1, file); };
  const auto dataBytes = static_cast<uint32_t>(samples.size() * 2);
  fwrite("RIFF", 1, 4, file);
  put32(36 + dataBytes);
  fwrite("WAVEfmt ", 1, 8, file);
  put32(16);
  put16(1);
  put16(2);
  put32(48000);
  put32(192000);
  put16(4);
  put16(16);
  fwrite("data", 1, 4, file);
  put32(dataBytes);
  fwrite(samples.data(), 2, samples.size(), file);
  fclose(file);

  Ctl("programme file " + path);
  ASSERT_EQ(StartCapture(48000), 0);
  ASSERT_TRUE(PollUntil(std::chrono::milliseconds(3000), [&] { return levels.size() >= 10; }));
  for (const ChannelLevels& level : levels) {
    // -2000 counts as 1999.
    ASSERT_DOUBLE_EQ(level[0], PeakToDb(1000));
    ASSERT_DOUBLE_EQ(level[1], PeakToDb(1999));
  }
}

TEST_F(AlsaWaveCapture, DetectorFedFromTheCaptureFindsSilenceAfterTheSecondsOfAudio) {
  Ctl("programme silence");
  TSilence detector;
  double audioSeconds = 0;
  std::vector<double> verdictAt;
  detector.OnSilence = [&](TSilence&, uint8_t verdict) {
    if (verdict == smSeekSilence)
      verdictAt.push_back(audioSeconds);
  };
  detector.Configure(smSeekSilence, 1.5, -60);
  onData = [&](const char* data, int32_t count) {
    audioSeconds += count / (capture->SampleRate * 4.0);
    detector.Feed(data, count, capture->SampleRate);
  };
  ASSERT_EQ(StartCapture(48000), 0);
  const auto start = Clock::now();
  ASSERT_TRUE(PollUntil(std::chrono::milliseconds(5000), [&] { return !verdictAt.empty(); }));
  EXPECT_NEAR(verdictAt[0], 1.5, 0.02);
  // The audio is real time: the verdict cannot come before its seconds have passed.
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(1300));
}

TEST_F(AlsaWaveCapture, AVanishedDeviceReachesOnErrorAndStartsAgainOnceBack) {
  ASSERT_EQ(StartCapture(48000), 0);
  ASSERT_TRUE(PollUntil(std::chrono::milliseconds(2000), [&] { return blockSizes.size() > 5; }));
  Ctl("vanish");
  ASSERT_TRUE(PollUntil(std::chrono::milliseconds(5000), [&] { return !errors.empty(); }));
  EXPECT_NE(errors[0], 0u);
  EXPECT_FALSE(capture->Active);

  // Gone from the listing, so a start finds nothing to open.
  capture->RefreshDevices();
  for (int32_t i = 0; i < capture->DeviceCount(); ++i)
    EXPECT_NE(capture->DeviceName(i), kDeviceName);

  Ctl("present");
  errors.clear();
  blockSizes.clear();
  ASSERT_EQ(StartCapture(48000), 0);
  EXPECT_TRUE(PollUntil(std::chrono::milliseconds(3000), [&] { return blockSizes.size() > 5; }));
  EXPECT_TRUE(errors.empty());
}

TEST_F(AlsaWaveCapture, AListedDeviceThatRefusesToOpenGivesAStartCode) {
  capture = std::make_unique<TWaveCapture>(input);
  Ctl("refuse");
  EXPECT_NE(StartCapture(48000, false), 0);
  EXPECT_FALSE(capture->Active);
  Ctl("present");
  EXPECT_EQ(StartCapture(48000), 0);
}

TEST_F(AlsaWaveCapture, ARefusingDeviceSaysWhyOnceAndALSAsOwnLinesStaySilent) {
  capture = std::make_unique<TWaveCapture>(input);
  Ctl("refuse");
  ::testing::internal::CaptureStderr();
  for (int attempt = 0; attempt < 3; ++attempt) {
    capture->RefreshDevices();
    EXPECT_NE(StartCapture(48000, false), 0);
  }
  const std::string said = ::testing::internal::GetCapturedStderr();
  const std::string device = input.AlsaName(static_cast<uint32_t>(VirtualDeviceId()));
  const std::string line = "the capture device \"" + device + "\" does not open: ";
  EXPECT_NE(said.find(line), std::string::npos) << said;
  EXPECT_EQ(said.find(line), said.rfind(line)) << said;
  EXPECT_EQ(said.find("ALSA lib"), std::string::npos) << said;
  // Once open again, a new refusal is reported again.
  Ctl("present");
  EXPECT_EQ(StartCapture(48000), 0);
  capture->Stop();
  Ctl("refuse");
  ::testing::internal::CaptureStderr();
  EXPECT_NE(StartCapture(48000, false), 0);
  EXPECT_NE(::testing::internal::GetCapturedStderr().find(line), std::string::npos);
}

TEST_F(AlsaWaveCapture, AnOpenDeviceThatCannotStartFailsItsBlockOperations) {
  const int32_t device = VirtualDeviceId();
  ASSERT_GE(device, 0);
  const platform::WaveFormat format = Format48k();
  platform::WaveInHandle handle = platform::kNoWaveIn;
  ASSERT_EQ(
      input.Open(handle, static_cast<uint32_t>(device), format, [](platform::WaveHeader&) {}, {}),
      0);
  Ctl("vanish");
  EXPECT_NE(input.Start(handle), 0);
  std::vector<char> data(1920);
  platform::WaveHeader block;
  block.Data = data.data();
  block.BufferLength = 1920;
  EXPECT_NE(input.PrepareHeader(handle, block), 0);
  EXPECT_EQ(input.Reset(handle), 0);
  EXPECT_EQ(input.Close(handle), 0);
}

TEST_F(AlsaWaveCapture, AStoppedDeviceRecordsAgainAfterStart) {
  std::atomic<int> done{0};
  platform::WaveInHandle handle = platform::kNoWaveIn;
  ASSERT_EQ(OpenAt48k(handle, done), 0);
  std::vector<std::vector<char>> data(4, std::vector<char>(1920));
  std::vector<platform::WaveHeader> blocks(4);
  for (size_t i = 0; i < blocks.size(); ++i) {
    blocks[i].Data = data[i].data();
    blocks[i].BufferLength = 1920;
    ASSERT_EQ(input.PrepareHeader(handle, blocks[i]), 0);
  }
  for (int round = 0; round < 2; ++round) {
    done = 0;
    for (auto& block : blocks)
      ASSERT_EQ(input.AddBuffer(handle, block), 0);
    ASSERT_EQ(input.Start(handle), 0);
    const auto end = Clock::now() + std::chrono::seconds(3);
    while (done < 4 && Clock::now() < end)
      RunLoop(std::chrono::milliseconds(5));
    EXPECT_EQ(done, 4) << "round " << round;
    // Every block came back full.
    for (auto& block : blocks)
      EXPECT_EQ(block.BytesRecorded, 1920u);
    ASSERT_EQ(input.Stop(handle), 0);
  }
  EXPECT_EQ(input.Reset(handle), 0);
  for (auto& block : blocks)
    EXPECT_EQ(input.UnprepareHeader(handle, block), 0);
  EXPECT_EQ(input.Close(handle), 0);
}

TEST_F(AlsaWaveCapture, AnOverrunIsRecoveredWithoutStoppingCountedAndWarnedOf) {
  ASSERT_EQ(StartCapture(48000), 0);
  ASSERT_TRUE(PollUntil(std::chrono::milliseconds(2000), [&] { return blockSizes.size() > 5; }));
  EXPECT_EQ(capture->Overruns(), 0u);
  // The main loop held up far longer than ALSA's buffer lasts: the device overruns.
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  ::testing::internal::CaptureStderr();
  const size_t before = blockSizes.size();
  EXPECT_TRUE(
      PollUntil(std::chrono::milliseconds(3000), [&] { return blockSizes.size() > before + 20; }));
  const std::string warning = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(capture->Overruns(), 1u);
  EXPECT_NE(warning.find("overran 1 time(s)"), std::string::npos) << warning;
  EXPECT_TRUE(errors.empty());
  EXPECT_TRUE(capture->Active);
}

TEST_F(AlsaWaveCapture, AudioThrownAwayForWantOfABlockIsCountedAndWarnedOf) {
  std::atomic<int> done{0};
  platform::WaveInHandle handle = platform::kNoWaveIn;
  ASSERT_EQ(OpenAt48k(handle, done), 0);
  std::vector<char> data(1920);
  platform::WaveHeader block;
  block.Data = data.data();
  block.BufferLength = 1920;
  ASSERT_EQ(input.PrepareHeader(handle, block), 0);
  ASSERT_EQ(input.AddBuffer(handle, block), 0);
  const auto started = Clock::now();
  ASSERT_EQ(input.Start(handle), 0);
  // One 10 ms block, then half a second with none queued.
  RunLoop(std::chrono::milliseconds(500));
  const double elapsedMs =
      std::chrono::duration<double, std::milli>(Clock::now() - started).count();
  const double discardedMs = static_cast<double>(input.DiscardedBytes(handle)) / 192.0;
  EXPECT_EQ(done, 1);
  // All but the block and what ALSA still holds (up to 8 periods) was thrown away.
  EXPECT_GE(discardedMs, 500.0 - 10.0 - 80.0 - 50.0);
  EXPECT_LE(discardedMs, elapsedMs);

  // The next block queued brings the warning, with the amount.
  ::testing::internal::CaptureStderr();
  ASSERT_EQ(input.AddBuffer(handle, block), 0);
  const std::string warning = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(warning.find("ms of captured audio ("), std::string::npos) << warning;
  EXPECT_NE(warning.find("thrown away"), std::string::npos) << warning;
  EXPECT_EQ(input.Reset(handle), 0);
  EXPECT_EQ(input.UnprepareHeader(handle, block), 0);
  EXPECT_EQ(input.Close(handle), 0);
}

TEST_F(AlsaWaveCapture, StopReturnsThePartlyFilledBlockAloneAndCloseWaitsForTheRest) {
  std::atomic<int> done{0};
  platform::WaveInHandle handle = platform::kNoWaveIn;
  ASSERT_EQ(OpenAt48k(handle, done), 0);
  // Blocks of a second each: the first is part filled when the capture stops.
  constexpr uint32_t kSecond = 192000;
  std::vector<std::vector<char>> data(3, std::vector<char>(kSecond));
  std::vector<platform::WaveHeader> blocks(3);
  for (size_t i = 0; i < blocks.size(); ++i) {
    blocks[i].Data = data[i].data();
    blocks[i].BufferLength = kSecond;
    ASSERT_EQ(input.PrepareHeader(handle, blocks[i]), 0);
    ASSERT_EQ(input.AddBuffer(handle, blocks[i]), 0);
  }
  ASSERT_EQ(input.Start(handle), 0);
  RunLoop(std::chrono::milliseconds(300));
  ASSERT_EQ(input.Stop(handle), 0);
  EXPECT_EQ(done, 1);
  EXPECT_GT(blocks[0].BytesRecorded, 0u);
  EXPECT_LT(blocks[0].BytesRecorded, kSecond);
  EXPECT_NE(blocks[1].Flags & platform::wave_header::kInQueue, 0u);
  EXPECT_EQ(input.Close(handle), platform::result::kStillPlaying);
  EXPECT_EQ(input.UnprepareHeader(handle, blocks[2]), platform::result::kStillPlaying);

  EXPECT_EQ(input.Reset(handle), 0);
  EXPECT_EQ(done, 3);
  for (auto& block : blocks)
    EXPECT_EQ(input.UnprepareHeader(handle, block), 0);
  EXPECT_EQ(input.Close(handle), 0);
}

}  // namespace
}  // namespace calvora::audio
