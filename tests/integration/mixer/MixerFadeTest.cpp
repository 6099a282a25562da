#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QElapsedTimer>

#include <string>
#include <vector>

#include "VirtualMixerEnvironment.h"
#include "mixer/CVMixer.h"
#include "mixer/MixerXP.h"
#include "platform/alsa/AlsaMixerDevices.h"
#include "platform/posix/PosixClock.h"
#include "platform/qt/QtTimers.h"

namespace calvora::mixer {
namespace {

// Passes every call to the ALSA devices and notes each write with the time it was made.
class RecordingMixerDevices : public platform::MixerDevices {
 public:
  struct Write {
    int64_t ms;
    uint32_t controlId;
    uint32_t value;
  };

  RecordingMixerDevices() { clock.start(); }

  uint32_t DeviceCount() override { return alsa.DeviceCount(); }
  platform::Result GetDeviceCaps(uint32_t device, platform::MixerDeviceCaps& caps) override {
    return alsa.GetDeviceCaps(device, caps);
  }
  platform::Result GetDestinationLine(uint32_t device, uint32_t destination,
                                      platform::MixerLineInfo& line) override {
    return alsa.GetDestinationLine(device, destination, line);
  }
  platform::Result GetSourceLine(uint32_t device, uint32_t destination, uint32_t source,
                                 platform::MixerLineInfo& line) override {
    return alsa.GetSourceLine(device, destination, source, line);
  }
  platform::Result GetLineControls(uint32_t device, uint32_t lineId, uint32_t count,
                                   std::vector<platform::MixerControlInfo>& controls) override {
    return alsa.GetLineControls(device, lineId, count, controls);
  }
  platform::Result GetControlValue(uint32_t device, uint32_t controlId, uint32_t& value) override {
    return alsa.GetControlValue(device, controlId, value);
  }
  platform::Result SetControlValue(uint32_t device, uint32_t controlId, uint32_t value) override {
    writes.push_back({clock.elapsed(), controlId, value});
    return alsa.SetControlValue(device, controlId, value);
  }

  platform::alsa::AlsaMixerDevices alsa;
  QElapsedTimer clock;
  std::vector<Write> writes;
};

class MixerAlsaFade : public testing::VirtualMixerEnvironment {
 protected:
  void TearDown() override {
    FreeMixerDevices();
    VirtualMixerEnvironment::TearDown();
  }
};

TEST_F(MixerAlsaFade, ATwoSecondFadeOutWritesAboutFiftyFallingVolumesAndEndsMuted) {
  RecordingMixerDevices devices;
  platform::posix::PosixClock clock;
  platform::qt::QtTimers timers;
  TCVMixer controller(devices, clock, timers);
  controller.SetActive(true);
  std::vector<std::string> names;
  controller.GetDeviceNames(names);
  int32_t device = -1;
  for (size_t i = 0; i < names.size(); ++i)
    if (names[i] == "Calvora Virtual Mixer")
      device = static_cast<int32_t>(i);
  ASSERT_GE(device, 0);
  // The Aux line (volume only, full resolution) and PCM (volume and switch).
  const auto pcm = controller.AddLine(0, device, 0, 1);
  ASSERT_EQ(pcm, 1);
  controller.StoreLevel(pcm, 40000);
  controller.FadeTo(pcm, 40000, 0);
  devices.writes.clear();

  const int64_t start = devices.clock.elapsed();
  controller.FadeOutGroup(0, false, 2.0);
  QElapsedTimer waited;
  waited.start();
  while (controller.FindLine(pcm)->Fader->Active && waited.elapsed() < 20000)
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  ASSERT_FALSE(controller.FindLine(pcm)->Fader->Active);
  const int64_t end = devices.clock.elapsed();

  // Start: level and unmute; then the falling volumes; end: 0, mute, level behind the mute.
  ASSERT_GE(devices.writes.size(), 6u);
  const uint32_t volume = devices.writes[0].controlId;
  const uint32_t mute = devices.writes[1].controlId;
  EXPECT_EQ(devices.writes[0].value, 40000u);
  EXPECT_EQ(devices.writes[1].value, 0u);
  const auto n = devices.writes.size();
  EXPECT_EQ(devices.writes[n - 3].controlId, volume);
  EXPECT_EQ(devices.writes[n - 3].value, 0u);
  EXPECT_EQ(devices.writes[n - 2].controlId, mute);
  EXPECT_EQ(devices.writes[n - 2].value, 1u);
  EXPECT_EQ(devices.writes[n - 1].value, 40000u);
  size_t falling = 0;
  for (size_t i = 2; i + 3 < n; ++i) {
    EXPECT_EQ(devices.writes[i].controlId, volume);
    EXPECT_LE(devices.writes[i].value, i > 2 ? devices.writes[i - 1].value : 40000u);
    ++falling;
  }
  // About one write per 40 ms: a busy machine may drop some and stretch the fade, but the line
  // timer never writes more often than once per tick of the time the fade really took.
  EXPECT_GE(end - start, 1900);
  EXPECT_GE(falling, 25u);
  EXPECT_LE(falling, static_cast<size_t>((end - start) / 40 + 2));

  EXPECT_EQ(AmixerValues("PCM Playback Switch"), "values=off,off");
  EXPECT_EQ(AmixerValues("PCM Playback Volume"), "values=156,156");  // 40000 of 0..255
}

}  // namespace
}  // namespace calvora::mixer
