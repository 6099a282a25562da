#include "audio/Silence.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "VirtualWaveInput.h"

namespace calvora::audio {
namespace {

using testing::VirtualWaveInput;

constexpr int32_t kRate = 48000;
constexpr int32_t kBlockBytes = 1920;  // 10 ms at 48 kHz

class Silence : public ::testing::Test {
 protected:
  Silence() {
    detector.OnSilence = [this](TSilence&, uint8_t verdict) { verdicts.push_back(verdict); };
  }

  // Feeds `seconds` of 10 ms blocks whose peak is `peak` on the left channel.
  void FeedSeconds(double seconds, int16_t peak) {
    const std::vector<char> block = VirtualWaveInput::Frames(kBlockBytes / 4, peak, 0);
    const auto blocks = static_cast<int>(std::lround(seconds * 100));
    for (int i = 0; i < blocks; ++i)
      detector.Feed(block.data(), kBlockBytes, kRate);
  }

  TSilence detector;
  std::vector<uint8_t> verdicts;
};

// Peaks on either side of a -40 dB threshold.
constexpr int16_t kQuiet = 100;   // about -50 dB
constexpr int16_t kLoud = 10000;  // about -10 dB

TEST_F(Silence, EvidenceIsNettedNotRestarted) {
  detector.Configure(smSeekSilence, 10, -40);
  FeedSeconds(7, kQuiet);
  FeedSeconds(2, kLoud);
  EXPECT_NEAR(detector.Elapsed, 5.0, 1e-9);
  FeedSeconds(4.98, kQuiet);
  EXPECT_TRUE(verdicts.empty());
  // Sums of 0.01 s blocks land a rounding step either side of 10 s: the verdict comes with
  // the 1000th net block or the one after.
  FeedSeconds(0.03, kQuiet);
  EXPECT_EQ(verdicts, std::vector<uint8_t>{smSeekSilence});
  EXPECT_LT(detector.Elapsed, 0.025);
}

TEST_F(Silence, SoundBeforeSilenceDoesNotDelayTheVerdict) {
  detector.Configure(smSeekSilence, 1, -40);
  FeedSeconds(30, kLoud);
  EXPECT_EQ(detector.Elapsed, 0);
  FeedSeconds(1, kQuiet);
  EXPECT_EQ(verdicts.size(), 1u);
}

TEST_F(Silence, LevelExactlyAtThresholdCountsAgainstBothVerdicts) {
  const double threshold = TSilence::PeakToDb(kQuiet);
  detector.Configure(smSeekSilence, 1, threshold);
  FeedSeconds(0.5, 1);
  FeedSeconds(0.2, kQuiet);
  EXPECT_NEAR(detector.Elapsed, 0.3, 1e-9);
  FeedSeconds(10, kQuiet);
  EXPECT_TRUE(verdicts.empty());

  detector.Configure(smSeekSound, 1, threshold);
  FeedSeconds(0.5, kLoud);
  FeedSeconds(0.2, kQuiet);
  EXPECT_NEAR(detector.Elapsed, 0.3, 1e-9);
  FeedSeconds(10, kQuiet);
  EXPECT_TRUE(verdicts.empty());
}

TEST_F(Silence, AlternatesWhenTheHandlerReconfiguresAndRepeatsWhenItDoesNot) {
  detector.OnSilence = [this](TSilence& sender, uint8_t verdict) {
    verdicts.push_back(verdict);
    if (verdict == smSeekSilence)
      sender.Configure(smSeekSound, 2, -40);
  };
  detector.Configure(smSeekSilence, 1, -40);
  FeedSeconds(1, kQuiet);
  EXPECT_EQ(detector.Mode, smSeekSound);
  FeedSeconds(2, kLoud);
  // No reconfiguration after verdict 2: the same verdict again after another 2 s.
  FeedSeconds(2, kLoud);
  EXPECT_EQ(verdicts, (std::vector<uint8_t>{smSeekSilence, smSeekSound, smSeekSound}));
}

TEST_F(Silence, TimeNotAbove0SwitchesOff) {
  for (double seconds : {0.0, -1.0, std::nan("")}) {
    detector.Configure(smSeekSilence, seconds, -40);
    EXPECT_EQ(detector.Mode, smOff);
    EXPECT_EQ(detector.NeedTime, 0);
    FeedSeconds(5, kQuiet);
    EXPECT_EQ(detector.Elapsed, 0);
  }
  EXPECT_TRUE(verdicts.empty());
  // Off by a NeedTime of 0 even when the mode says otherwise.
  detector.Mode = smSeekSilence;
  FeedSeconds(1, kQuiet);
  EXPECT_EQ(detector.Mode, smOff);
}

TEST_F(Silence, ConfigureClearsEvidenceButKeepsLastLevel) {
  detector.Configure(smSeekSilence, 10, -40);
  FeedSeconds(3, kQuiet);
  const double last = detector.LastLevel;
  EXPECT_DOUBLE_EQ(last, TSilence::PeakToDb(kQuiet));
  detector.Configure(smSeekSilence, 10, -40);
  EXPECT_EQ(detector.Elapsed, 0);
  EXPECT_EQ(detector.LastLevel, last);
}

TEST_F(Silence, BlockDurationPeakAndOddBytes) {
  detector.Configure(smSeekSound, 100, -40);
  // An empty block lasts nothing and reads -90.3.
  detector.Feed(nullptr, 0, kRate);
  EXPECT_EQ(detector.Elapsed, 0);
  EXPECT_DOUBLE_EQ(detector.LastLevel, -90.3);

  // The peak covers both channels: sound on the right only is sound.
  const std::vector<char> right = VirtualWaveInput::Frames(441, 0, kLoud);
  detector.Feed(right.data(), 1764, 44100);
  EXPECT_NEAR(detector.Elapsed, 0.01, 1e-12);

  // -32768 counts as 32767; a trailing odd byte is not read.
  std::vector<char> bytes = VirtualWaveInput::Frames(1, -32768, 0);
  bytes.push_back(static_cast<char>(0x7F));
  detector.Feed(bytes.data(), 5, 32000);
  EXPECT_DOUBLE_EQ(detector.LastLevel, TSilence::PeakToDb(32767));
  EXPECT_NEAR(detector.Elapsed, 0.01 + 5.0 / 128000, 1e-12);
}

TEST_F(Silence, SampleRateOf0OrBelowAddsNoTime) {
  detector.Configure(smSeekSilence, 1, -40);
  const std::vector<char> block = VirtualWaveInput::Frames(480, kQuiet, kQuiet);
  for (int i = 0; i < 1000; ++i)
    detector.Feed(block.data(), kBlockBytes, 0);
  detector.Feed(block.data(), kBlockBytes, -48000);
  EXPECT_EQ(detector.Elapsed, 0);
  EXPECT_TRUE(std::isfinite(detector.Elapsed));
  EXPECT_TRUE(verdicts.empty());
  EXPECT_DOUBLE_EQ(detector.LastLevel, TSilence::PeakToDb(kQuiet));
}

}  // namespace
}  // namespace calvora::audio
