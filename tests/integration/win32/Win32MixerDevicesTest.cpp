#include <gtest/gtest.h>

#include "mixer/MixerXP.h"
#include "platform/win32/Win32MixerDevices.h"

namespace calvora::mixer {
namespace {

// The device tree on the mixer API of Wine, whose devices are ALSA's default ones (the
// virtual card here). Wine keeps the endpoint's volume and mute itself.
class Win32MixerTree : public ::testing::Test {
 protected:
  void SetUp() override {
    LoadMixerDevices(devices);
    LoadMixerLines();
  }
  void TearDown() override { FreeMixerDevices(); }

  int32_t DeviceNamed(const std::string& name) {
    for (int32_t d = 0; d < MixerDeviceCount(); ++d)
      if (MixerDeviceName(d) == name)
        return d;
    return -1;
  }

  platform::win32::Win32MixerDevices devices;
};

TEST_F(Win32MixerTree, TheDefaultOutputsMasterLineIsMutedAndSetAndReadBack) {
  const int32_t device = DeviceNamed("Out: default");
  ASSERT_GE(device, 0);
  ASSERT_GE(MixerRootCount(device), 1);
  EXPECT_EQ(MixerRootName(device, 0), "Master Volume");
  ASSERT_GE(MixerLineCount(device, 0), 1);
  const int32_t original = GetLineVolume(device, 0, 0);

  EXPECT_TRUE(SetLineVolume(device, 0, 0, 30000, true));
  EXPECT_EQ(GetLineVolume(device, 0, 0), 30000);
  EXPECT_TRUE(SetLineVolume(device, 0, 0, 70000, true)) << "clamped to 65535";
  EXPECT_EQ(GetLineVolume(device, 0, 0), 65535);

  EXPECT_TRUE(SetLineMute(device, 0, 0, true, true));
  EXPECT_TRUE(GetLineMute(device, 0, 0));
  EXPECT_TRUE(SetLineMute(device, 0, 0, false, true));
  EXPECT_FALSE(GetLineMute(device, 0, 0));
  SetLineVolume(device, 0, 0, original, false);
}

}  // namespace
}  // namespace calvora::mixer
