#include <gtest/gtest.h>

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

using platform::alsa::AlsaMixerDevices;

class MixerAlsa : public testing::VirtualMixerEnvironment {
 protected:
  void TearDown() override {
    FreeMixerDevices();
    VirtualMixerEnvironment::TearDown();
  }

  // Loads the whole tree and returns the virtual mixer's device position.
  int32_t LoadVirtualMixer() {
    LoadMixerDevices(devices);
    LoadMixerLines();
    for (int32_t device = 0; device < MixerDeviceCount(); ++device)
      if (MixerDeviceName(device) == "Calvora Virtual Mixer")
        return device;
    return -1;
  }

  std::vector<std::string> Lines(int32_t device, int32_t root) {
    std::vector<std::string> names;
    for (int32_t line = 0; line < MixerLineCount(device, root); ++line)
      names.push_back(MixerLineName(device, root, line));
    return names;
  }

  // The percentage `amixer -M` (alsamixer's mapped volume) shows for a simple control, or -1.
  static int MappedPercent(const std::string& control) {
    const std::string output = Amixer("-M sget '" + control + "'");
    const auto percent = output.find("%]");
    const auto open = output.rfind('[', percent);
    if (percent == std::string::npos || open == std::string::npos)
      return -1;
    return std::stoi(output.substr(open + 1, percent - open - 1));
  }

  AlsaMixerDevices devices;
};

// Line positions on the virtual mixer's "Playback" root.
constexpr int32_t kPlayback = 0, kCapture = 1;
constexpr int32_t kMaster = 0, kPcm = 1, kLine = 2, kBeep = 3, kAux = 4, kHeadphone = 5,
                  kMicBoost = 6, kSecondPcm = 7;

// A 0..65535 volume in percent.
double Percent(int32_t volume) {
  return volume * 100.0 / 65535.0;
}

TEST_F(MixerAlsa, TheTreeListsTheVirtualMixerWithBothRootsAndItsLinesInOrder) {
  const int32_t mixer = LoadVirtualMixer();
  ASSERT_GE(mixer, 0);
  EXPECT_EQ(MixerRootCount(mixer), 2);
  EXPECT_EQ(MixerRootName(mixer, kPlayback), "Playback");
  EXPECT_EQ(MixerRootName(mixer, kCapture), "Capture");
  // Each root's own line (its master element) comes first, under the root's name. A volume
  // without a direction is a playback line, a second element of one name is told apart by
  // its index; the enumerated "Capture Source" and the read-only "Loopback Capture Volume"
  // are no lines.
  EXPECT_EQ(Lines(mixer, kPlayback),
            (std::vector<std::string>{"Playback", "PCM", "Line", "Beep", "Aux", "Headphone",
                                      "Mic Boost", "PCM,1"}));
  EXPECT_EQ(Lines(mixer, kCapture), (std::vector<std::string>{"Capture", "Mic"}));
  // The hot-pluggable second device is not counted while it cannot open.
  for (int32_t device = 0; device < MixerDeviceCount(); ++device)
    EXPECT_NE(MixerDeviceName(device), "Calvora Virtual Mixer 2");
  // Initial values, scaled from the elements' own ranges.
  EXPECT_EQ(GetLineVolume(mixer, kPlayback, kMaster), 45197);  // 60 of 0..87
  EXPECT_EQ(GetLineVolume(mixer, kPlayback, kAux), 30000);
  EXPECT_FALSE(GetLineMute(mixer, kPlayback, kPcm));
}

TEST_F(MixerAlsa, VolumesAndMutesAreWhatAmixerReadsInAnotherProcess) {
  const int32_t mixer = LoadVirtualMixer();
  ASSERT_GE(mixer, 0);
  // PCM's range is 0..255: half scale is 128 there, and reads back as the nearest step.
  EXPECT_TRUE(SetLineVolume(mixer, kPlayback, kPcm, 32768, false));
  EXPECT_EQ(AmixerValues("PCM Playback Volume"), "values=128,128");
  EXPECT_EQ(GetLineVolume(mixer, kPlayback, kPcm), 32896);
  // Aux has the full resolution: a written value reads back unchanged, and clamps apply.
  EXPECT_TRUE(SetLineVolume(mixer, kPlayback, kAux, 40000, true));
  EXPECT_EQ(AmixerValues("Aux Playback Volume"), "values=40000,40000");
  EXPECT_TRUE(SetLineVolume(mixer, kPlayback, kAux, 70000, true));
  EXPECT_EQ(AmixerValues("Aux Playback Volume"), "values=65535,65535");
  EXPECT_TRUE(SetLineVolume(mixer, kPlayback, kMaster, 0, true));
  EXPECT_EQ(AmixerValues("Master Playback Volume"), "values=0,0");

  EXPECT_TRUE(SetLineMute(mixer, kPlayback, kPcm, true, true));
  EXPECT_EQ(AmixerValues("PCM Playback Switch"), "values=off,off");
  EXPECT_TRUE(GetLineMute(mixer, kPlayback, kPcm));
  EXPECT_TRUE(SetLineMute(mixer, kPlayback, kBeep, true, true));  // a switch-only line
  EXPECT_EQ(AmixerValues("Beep Playback Switch"), "values=off,off");
  EXPECT_FALSE(SetLineMute(mixer, kPlayback, kAux, true, true));  // a volume-only line
  EXPECT_TRUE(SetLineMute(mixer, kCapture, 0, true, true));
  EXPECT_EQ(AmixerValues("Capture Switch"), "values=off,off");

  // And the other way: what another program sets is read on the next call.
  Amixer("cset name='Line Playback Volume' 31");
  Amixer("cset name='PCM Playback Switch' on");
  EXPECT_EQ(GetLineVolume(mixer, kPlayback, kLine), 65535);
  EXPECT_FALSE(GetLineMute(mixer, kPlayback, kPcm));
}

TEST_F(MixerAlsa, VolumesWithADbScaleAreWhatAmixerShowsAsMappedVolume) {
  const int32_t mixer = LoadVirtualMixer();
  ASSERT_GE(mixer, 0);
  // Headphone: -65.25 dB to 0 in 0.75 dB steps, the lowest step muting, as on HDA codecs.
  EXPECT_TRUE(SetLineVolume(mixer, kPlayback, kHeadphone, 32768, false));
  EXPECT_NEAR(MappedPercent("Headphone"), 50, 1);
  EXPECT_TRUE(SetLineVolume(mixer, kPlayback, kHeadphone, 52428, false));  // 80 %
  EXPECT_NEAR(MappedPercent("Headphone"), 80, 1);
  EXPECT_TRUE(SetLineVolume(mixer, kPlayback, kHeadphone, 0, false));
  EXPECT_EQ(AmixerValues("Headphone Playback Volume"), "values=0,0");
  EXPECT_TRUE(SetLineVolume(mixer, kPlayback, kHeadphone, 65535, false));
  EXPECT_EQ(AmixerValues("Headphone Playback Volume"), "values=87,87");

  // The other way: what amixer sets in percent reads back as that share of 0..65535.
  for (const int percent : {10, 30, 50, 75}) {
    Amixer("-M sset Headphone " + std::to_string(percent) + "%");
    EXPECT_NEAR(Percent(GetLineVolume(mixer, kPlayback, kHeadphone)), percent, 1.0) << percent;
  }
  // Every step of a coarse dB scale (0 to +30 dB in four steps) reads as amixer shows it.
  for (int raw = 0; raw <= 3; ++raw) {
    Amixer("cset name='Mic Boost Volume' " + std::to_string(raw));
    EXPECT_NEAR(Percent(GetLineVolume(mixer, kPlayback, kMicBoost)), MappedPercent("Mic Boost"),
                1.0)
        << raw;
  }
  // Without dB information the raw range stays linear, and the second PCM is its own line.
  EXPECT_TRUE(SetLineVolume(mixer, kPlayback, kSecondPcm, 32768, false));
  EXPECT_EQ(AmixerValues("PCM Playback Volume',index='1"), "values=128,128");
  EXPECT_EQ(AmixerValues("PCM Playback Volume"), "values=200,200");
}

TEST_F(MixerAlsa, ASecondMixerDeviceAppearingAndVanishingIsNoticed) {
  platform::posix::PosixClock clock;
  platform::qt::QtTimers timers;
  TCVMixer controller(devices, clock, timers);
  int changes = 0;
  controller.OnDevicesChanged = [&](TCVMixer& sender) {
    sender.DevicesChanged = true;
    ++changes;
  };
  const int32_t before = MixerDeviceCount();
  controller.CheckDevices();
  EXPECT_EQ(changes, 0);

  SetSecondMixerPresent(true);
  controller.CheckDevices();
  EXPECT_EQ(changes, 1);
  controller.Reset();
  ASSERT_EQ(MixerDeviceCount(), before + 1);
  std::vector<std::string> names;
  controller.GetDeviceNames(names);
  EXPECT_EQ(names.back(), "Calvora Virtual Mixer 2");
  controller.CheckDevices();
  EXPECT_EQ(changes, 1);

  // Open a line on the second device, then take the device away: writes do nothing.
  controller.SetActive(true);
  const auto id = controller.AddLine(0, before, kPlayback, kPcm);
  ASSERT_EQ(id, 1);
  SetSecondMixerPresent(false);
  controller.FadeOutGroup(0, true, 0);
  EXPECT_FALSE(controller.IsLineMuted(id));
  EXPECT_FALSE(SetLineVolume(before, kPlayback, kPcm, 1000, true));
  controller.CheckDevices();
  EXPECT_EQ(changes, 2);
  controller.Reset();
  EXPECT_EQ(MixerDeviceCount(), before);
}

TEST_F(MixerAlsa, WritesMeantForAVanishedDeviceNeverReachTheNextOne) {
  SetSecondMixerPresent(true);
  const int32_t first = LoadVirtualMixer();
  ASSERT_GE(first, 0);
  ASSERT_EQ(MixerDeviceName(first + 1), "Calvora Virtual Mixer 2");
  SetFirstMixerAbsent(true);
  // The count drops and the second device moves up a position, but the tree still holds
  // the old positions until it is rebuilt.
  EXPECT_EQ(static_cast<int32_t>(devices.DeviceCount()), MixerDeviceCount() - 1);
  EXPECT_FALSE(SetLineVolume(first, kPlayback, kPcm, 0, true));
  EXPECT_TRUE(SetLineMute(first, kPlayback, kPcm, true, false));
  EXPECT_EQ(AmixerValues("PCM Playback Volume", "calvora_mixer2"), "values=200,200");
  EXPECT_EQ(AmixerValues("PCM Playback Switch", "calvora_mixer2"), "values=on,on");
  // Rebuilt, the position belongs to the second device.
  LoadMixerDevices(devices);
  LoadMixerLines();
  EXPECT_EQ(MixerDeviceName(first), "Calvora Virtual Mixer 2");
  EXPECT_TRUE(SetLineVolume(first, kPlayback, kPcm, 0, true));
  EXPECT_EQ(AmixerValues("PCM Playback Volume", "calvora_mixer2"), "values=0,0");
}

TEST_F(MixerAlsa, AMixerDeviceUnpluggedAndPluggedBackIsBoundAgain) {
  const int32_t first = LoadVirtualMixer();
  ASSERT_GE(first, 0);
  const int32_t count = MixerDeviceCount();
  // Gone: the count drops and the tree is rebuilt without it, as the supervision does.
  SetFirstMixerAbsent(true);
  EXPECT_EQ(static_cast<int32_t>(devices.DeviceCount()), count - 1);
  LoadMixerDevices(devices);
  EXPECT_EQ(MixerDeviceCount(), count - 1);
  // Back as the same device: counted, bound and controlled again.
  SetFirstMixerAbsent(false);
  EXPECT_EQ(static_cast<int32_t>(devices.DeviceCount()), count);
  ASSERT_EQ(LoadVirtualMixer(), first);
  EXPECT_EQ(MixerDeviceCount(), count);
  EXPECT_TRUE(SetLineVolume(first, kPlayback, kPcm, 0, true));
  EXPECT_EQ(AmixerValues("PCM Playback Volume"), "values=0,0");

  // Unplugged and back between two counts: the count never dropped, the kept handle is dead,
  // and the device is still bound and counted.
  SetFirstMixerAbsent(true);
  SetFirstMixerAbsent(false);
  EXPECT_EQ(static_cast<int32_t>(devices.DeviceCount()), count);
  ASSERT_EQ(LoadVirtualMixer(), first);
  EXPECT_EQ(static_cast<int32_t>(devices.DeviceCount()), MixerDeviceCount());
  EXPECT_TRUE(SetLineVolume(first, kPlayback, kPcm, 65535, true));
  EXPECT_EQ(AmixerValues("PCM Playback Volume"), "values=255,255");
}

TEST_F(MixerAlsa, DevicesOfOneNameAreToldApartSoEachCanBeChosen) {
  SetSameNamedMixerPresent(true);
  const int32_t first = LoadVirtualMixer();
  ASSERT_GE(first, 0);
  // The later device's name is trimmed and numbered; the first keeps its plain name, so a
  // device chosen by that name is still the one it was.
  ASSERT_EQ(MixerDeviceName(first + 1), "Calvora Virtual Mixer (2)");
  EXPECT_TRUE(SetLineVolume(first + 1, kPlayback, kPcm, 0, true));
  EXPECT_EQ(AmixerValues("PCM Playback Volume", "calvora_mixer3"), "values=0,0");
  EXPECT_EQ(AmixerValues("PCM Playback Volume"), "values=200,200");

  // The number follows the devices listed before it: alone, the device has the plain name.
  SetFirstMixerAbsent(true);
  LoadMixerDevices(devices);
  bool plain = false;
  for (int32_t device = 0; device < MixerDeviceCount(); ++device) {
    EXPECT_NE(MixerDeviceName(device), "Calvora Virtual Mixer (2)");
    plain = plain || MixerDeviceName(device) == "Calvora Virtual Mixer";
  }
  EXPECT_TRUE(plain);
}

TEST_F(MixerAlsa, ADestinationOrControlPastTheDevicesOwnIsRefused) {
  namespace result = platform::result;
  const uint32_t count = devices.DeviceCount();
  uint32_t mixer = count;
  platform::MixerDeviceCaps caps;
  for (uint32_t device = 0; device < count && mixer == count; ++device)
    if (devices.GetDeviceCaps(device, caps) == 0 && caps.name == "Calvora Virtual Mixer")
      mixer = device;
  ASSERT_LT(mixer, count);
  // The control ids are those of the lines' controls, numbered from 0.
  uint32_t controls = 0;
  platform::MixerLineInfo line;
  for (uint32_t destination = 0; destination < caps.destinations; ++destination) {
    ASSERT_EQ(devices.GetDestinationLine(mixer, destination, line), 0);
    controls += line.controls;
    const uint32_t sources = line.connections;
    for (uint32_t source = 0; source < sources; ++source) {
      ASSERT_EQ(devices.GetSourceLine(mixer, destination, source, line), 0);
      controls += line.controls;
    }
  }
  uint32_t value = 0;
  ASSERT_EQ(devices.GetControlValue(mixer, controls - 1, value), 0);

  EXPECT_EQ(devices.GetDestinationLine(mixer, caps.destinations, line), result::kInvalidParam);
  EXPECT_EQ(devices.GetSourceLine(mixer, caps.destinations, 0, line), result::kInvalidParam);
  EXPECT_EQ(devices.GetControlValue(mixer, controls, value), result::kInvalidParam);
  EXPECT_EQ(devices.SetControlValue(mixer, controls, 0), result::kInvalidParam);
  EXPECT_EQ(devices.GetDestinationLine(count, 0, line), result::kBadDeviceId);
  EXPECT_EQ(devices.GetControlValue(count, 0, value), result::kBadDeviceId);
}

TEST_F(MixerAlsa, VolumesScaleLinearlyBothWaysAndElementNamesGiveLines) {
  using platform::alsa::MappedFromDb;
  // The mapped volume: linear in dB up to a 24 dB span, otherwise by loudness.
  EXPECT_DOUBLE_EQ(MappedFromDb(0, -1200, 1200), 0.5);
  EXPECT_NEAR(MappedFromDb(-2025, SND_CTL_TLV_DB_GAIN_MUTE, 0), 0.4598, 0.0001);
  EXPECT_DOUBLE_EQ(MappedFromDb(-6525, -6525, 0), 0.0);
  EXPECT_DOUBLE_EQ(MappedFromDb(0, -6525, 0), 1.0);
  EXPECT_NEAR(MappedFromDb(-1800, -6525, 0), (0.5012 - 0.0817) / (1 - 0.0817), 0.001);

  using platform::alsa::FromElementVolume;
  using platform::alsa::ToElementVolume;
  EXPECT_EQ(ToElementVolume(0, -10, 10), -10);
  EXPECT_EQ(ToElementVolume(65535, -10, 10), 10);
  EXPECT_EQ(ToElementVolume(32768, 0, 255), 128);
  EXPECT_EQ(ToElementVolume(70000, 0, 31), 31);
  EXPECT_EQ(FromElementVolume(-10, -10, 10), 0u);
  EXPECT_EQ(FromElementVolume(10, -10, 10), 65535u);
  EXPECT_EQ(FromElementVolume(50, 0, 0), 0u);  // an element without a range
  for (uint32_t v : {0u, 1u, 12345u, 40000u, 65534u, 65535u}) {
    EXPECT_EQ(FromElementVolume(ToElementVolume(v, 0, 65535), 0, 65535), v);
    EXPECT_EQ(FromElementVolume(ToElementVolume(v, 0, 131070), 0, 131070), v);
  }

  using platform::alsa::MixerControlKind;
  using platform::alsa::MixerDirection;
  platform::alsa::MixerElementName parsed;
  ASSERT_TRUE(platform::alsa::ParseMixerElementName("Front Mic Capture Switch", parsed));
  EXPECT_EQ(parsed.line, "Front Mic");
  EXPECT_EQ(parsed.direction, MixerDirection::kCapture);
  EXPECT_EQ(parsed.kind, MixerControlKind::kSwitch);
  ASSERT_TRUE(platform::alsa::ParseMixerElementName("Capture Volume", parsed));
  EXPECT_EQ(parsed.line, "Capture");
  EXPECT_EQ(parsed.direction, MixerDirection::kCapture);
  ASSERT_TRUE(platform::alsa::ParseMixerElementName("Master Volume", parsed));
  EXPECT_EQ(parsed.line, "Master");
  EXPECT_EQ(parsed.direction, MixerDirection::kPlayback);
  EXPECT_FALSE(platform::alsa::ParseMixerElementName("Capture Source", parsed));
  EXPECT_FALSE(platform::alsa::ParseMixerElementName(" Volume", parsed));
}

}  // namespace
}  // namespace calvora::mixer
