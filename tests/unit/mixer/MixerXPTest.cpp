#include "mixer/MixerXP.h"

#include <gtest/gtest.h>

#include "VirtualMixerDevices.h"

namespace calvora::mixer {
namespace {

using testing::VirtualMixerDevices;
using Controls = VirtualMixerDevices::Controls;

class MixerXP : public ::testing::Test {
 protected:
  void TearDown() override { FreeMixerDevices(); }

  void Load() {
    LoadMixerDevices(devices);
    LoadMixerLines();
  }

  VirtualMixerDevices devices;
};

TEST_F(MixerXP, NoDevicesGiveAnEmptyTreeAndEmptyNames) {
  EXPECT_EQ(MixerDeviceCount(), 0);  // before any load
  Load();
  EXPECT_EQ(MixerDeviceCount(), 0);
  EXPECT_EQ(MixerDeviceName(0), "");
  EXPECT_EQ(MixerRootCount(0), 0);
  EXPECT_EQ(MixerRootName(0, 0), "");
  EXPECT_EQ(MixerLineCount(0, 0), 0);
  EXPECT_EQ(GetLineVolume(0, 0, 0), 0);
  EXPECT_FALSE(SetLineVolume(0, 0, 0, 100, false));
}

TEST_F(MixerXP, PositionsSkipFailedDevicesRootsAndLinesWithoutControls) {
  const auto broken = devices.AddDevice("Broken");
  devices.devices[broken].capsFails = true;
  const auto card = devices.AddDevice("Card");
  // Root 0 fails its query; root 1's own line has no controls.
  devices.AddDestination(card, "Failing", Controls::kBoth);
  devices.LineAt(card, 0, -1).queryFails = true;
  const auto capture = devices.AddDestination(card, "Recording", Controls::kNone);
  devices.AddSource(card, capture, "Silent", Controls::kNone);
  devices.AddSource(card, capture, "Mic", Controls::kBoth);
  const auto failing = devices.AddSource(card, capture, "Lost", Controls::kBoth);
  devices.LineAt(card, capture, static_cast<int32_t>(failing)).queryFails = true;
  devices.AddSource(card, capture, "Mic", Controls::kVolume);
  Load();

  ASSERT_EQ(MixerDeviceCount(), 1);
  EXPECT_EQ(MixerDeviceName(0), "Card");
  // The device reports two roots, but only the second answered: it moves up to position 0.
  EXPECT_EQ(MixerRootCount(0), 2);
  EXPECT_EQ(MixerRootName(0, 0), "Recording");
  EXPECT_EQ(MixerRootName(0, 1), "");
  EXPECT_EQ(MixerLineCount(0, 1), 0);
  // Only lines with controls, in source order; two lines of one name stay two entries.
  ASSERT_EQ(MixerLineCount(0, 0), 2);
  EXPECT_EQ(MixerLineName(0, 0, 0), "Mic");
  EXPECT_EQ(MixerLineName(0, 0, 1), "Mic");
  devices.SetVolume(card, capture, 1, 111);
  devices.SetVolume(card, capture, 3, 333);
  EXPECT_EQ(GetLineVolume(0, 0, 0), 111);
  EXPECT_EQ(GetLineVolume(0, 0, 1), 333);
  EXPECT_EQ(MixerLineName(0, 0, 2), "");
  EXPECT_EQ(MixerLineName(0, -1, 0), "");
  EXPECT_EQ(MixerLineName(-1, 0, 0), "");
}

TEST_F(MixerXP, DeviceListAloneReportsRootCountsButNoRootsOrLines) {
  const auto card = devices.AddDevice("Card");
  devices.AddDestination(card, "Playback", Controls::kBoth);
  devices.AddDestination(card, "Capture", Controls::kBoth);
  LoadMixerDevices(devices);
  EXPECT_EQ(MixerRootCount(0), 2);
  EXPECT_EQ(MixerRootName(0, 0), "");
  EXPECT_EQ(MixerRootName(0, 1), "");
  EXPECT_EQ(MixerLineCount(0, 0), 0);
  const int before = devices.calls;
  EXPECT_FALSE(SetLineVolume(0, 0, 0, 5, false));
  EXPECT_EQ(devices.calls, before);

  LoadMixerLines();
  EXPECT_EQ(MixerRootName(0, 1), "Capture");
  EXPECT_EQ(MixerLineCount(0, 1), 1);
  // A new device list drops the lines again.
  LoadMixerDevices(devices);
  EXPECT_EQ(MixerLineCount(0, 1), 0);
  FreeMixerDevices();
  EXPECT_EQ(MixerDeviceCount(), 0);
  FreeMixerDevices();  // harmless twice
  LoadMixerLines();    // and without a tree, nothing happens
  EXPECT_EQ(MixerDeviceCount(), 0);
}

TEST_F(MixerXP, LongNamesAreCutWithoutSplittingACharacter) {
  const auto card = devices.AddDevice(std::string(40, 'D'));
  devices.AddDestination(card, std::string(70, 'R'), Controls::kBoth);
  // 63 plain characters and then two-byte ones: the cut falls after the first of them.
  devices.AddSource(card, 0, std::string(63, 'L') + "\xC3\xA9\xC3\xA9", Controls::kBoth);
  Load();
  EXPECT_EQ(MixerDeviceName(0), std::string(32, 'D'));
  EXPECT_EQ(MixerRootName(0, 0), std::string(64, 'R'));
  EXPECT_EQ(MixerLineName(0, 0, 1), std::string(63, 'L') + "\xC3\xA9");
}

TEST_F(MixerXP, VolumeWritesAreClampedAndVerified) {
  const auto card = devices.AddDevice("Card");
  devices.AddDestination(card, "Playback", Controls::kBoth);
  Load();
  const auto volume = devices.VolumeId(card, 0);

  EXPECT_TRUE(SetLineVolume(0, 0, 0, 70000, false));
  EXPECT_EQ(devices.writes.back().controlId, volume);
  EXPECT_EQ(devices.writes.back().value, 65535u);
  EXPECT_TRUE(SetLineVolume(0, 0, 0, -5, true));
  EXPECT_EQ(devices.writes.back().value, 0u);
  EXPECT_TRUE(SetLineVolume(0, 0, 0, 40000, true));
  EXPECT_EQ(GetLineVolume(0, 0, 0), 40000);

  // A device that keeps a different value: the write reports success only without verify.
  devices.devices[card].ignoresWrites = true;
  EXPECT_FALSE(SetLineVolume(0, 0, 0, 1000, true));
  EXPECT_TRUE(SetLineVolume(0, 0, 0, 1000, false));
  EXPECT_FALSE(SetLineMute(0, 0, 0, true, true));
  EXPECT_TRUE(SetLineMute(0, 0, 0, true, false));
}

TEST_F(MixerXP, AWriteIsNotConfirmedByAReadThatFailed) {
  const auto card = devices.AddDevice("Card");
  devices.AddDestination(card, "Playback", Controls::kBoth);
  Load();
  devices.devices[card].readsFail = true;
  // The failed reads come back as 0 and not muted, which must not pass for the values written.
  EXPECT_EQ(GetLineVolume(0, 0, 0), 0);
  EXPECT_FALSE(GetLineMute(0, 0, 0));
  EXPECT_FALSE(SetLineVolume(0, 0, 0, 0, true));
  EXPECT_FALSE(SetLineMute(0, 0, 0, false, true));
  EXPECT_TRUE(SetLineVolume(0, 0, 0, 0, false));
}

TEST_F(MixerXP, LinesWorkOnlyWithTheControlsTheyHave) {
  const auto card = devices.AddDevice("Card");
  devices.AddDestination(card, "Playback", Controls::kBoth);
  devices.AddSource(card, 0, "Beep", Controls::kMute);
  devices.AddSource(card, 0, "Aux", Controls::kVolume);
  devices.AddSource(card, 0, "Broken", Controls::kBoth);
  devices.LineAt(card, 0, 2).controlsFail = true;
  Load();
  ASSERT_EQ(MixerLineCount(0, 0), 4);

  // Mute switch but no volume.
  int before = devices.calls;
  EXPECT_FALSE(SetLineVolume(0, 0, 1, 100, true));
  EXPECT_EQ(GetLineVolume(0, 0, 1), 0);
  EXPECT_EQ(devices.calls, before);
  EXPECT_TRUE(SetLineMute(0, 0, 1, true, true));
  EXPECT_TRUE(devices.Muted(card, 0, 0));
  EXPECT_TRUE(GetLineMute(0, 0, 1));

  // Volume but no mute switch: mute fails without a device call.
  before = devices.calls;
  EXPECT_FALSE(SetLineMute(0, 0, 2, true, true));
  EXPECT_FALSE(GetLineMute(0, 0, 2));
  EXPECT_EQ(devices.calls, before);
  EXPECT_TRUE(SetLineVolume(0, 0, 2, 1234, true));

  // A line whose controls could not be read is listed but has neither.
  EXPECT_EQ(MixerLineName(0, 0, 3), "Broken");
  EXPECT_FALSE(SetLineVolume(0, 0, 3, 1, false));
  EXPECT_FALSE(SetLineMute(0, 0, 3, true, false));
}

TEST_F(MixerXP, TheLaterControlOfATypeWinsAndMuteIsAnyPositiveValue) {
  const auto card = devices.AddDevice("Card");
  devices.AddDestination(card, "Playback", Controls::kMute);
  const auto second = devices.AddControl(card, 0, -1, platform::kMixerControlMute);
  devices.AddControl(card, 0, -1, 0x12345678);  // an unknown control type is ignored
  Load();
  EXPECT_TRUE(SetLineMute(0, 0, 0, true, false));
  EXPECT_EQ(devices.writes.back().controlId, second);
  devices.devices[card].values[second] = 7;
  EXPECT_TRUE(GetLineMute(0, 0, 0));
  devices.devices[card].values[second] = 0x80000000u;  // negative as a signed number
  EXPECT_FALSE(GetLineMute(0, 0, 0));
}

}  // namespace
}  // namespace calvora::mixer
