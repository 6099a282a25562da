// The main window's mixer supervision on virtual time, a virtual mixer and a virtual desktop:
// the real window, with its real mixer check, line controller and faders.
#include <gtest/gtest.h>

#include "WindowFixture.h"
#include "mixer/MixerXP.h"

namespace calvora::app {
namespace {

using namespace calvora::testing;
using Controls = VirtualMixerDevices::Controls;

// The window, with its mute and restore at hand for setting up a test.
class Window : public TCV_AudioMixer {
 public:
  using TCV_AudioMixer::CheckMixerLine;
  using TCV_AudioMixer::SetMute;
  using TCV_AudioMixer::TCV_AudioMixer;
};

// Two mixer devices: "USB Mixer" (Playback: Master, PCM, Line) and "Desk Mixer" (Playback:
// Master, Aux). Line positions under Playback are 0 for Master, then the sources in order.
class MixerSupervision : public WindowFixture<Window> {
 protected:
  static constexpr int32_t kPcm = 1, kLine = 2;
  static constexpr platform::WindowHandle kPeer = 300;

  MixerSupervision() {
    usb = mixerDevices.AddDevice("USB Mixer");
    mixerDevices.AddDestination(usb, "Playback", Controls::kBoth);
    mixerDevices.AddSource(usb, 0, "PCM", Controls::kBoth);
    mixerDevices.AddSource(usb, 0, "Line", Controls::kBoth);
    desk = mixerDevices.AddDevice("Desk Mixer");
    mixerDevices.AddDestination(desk, "Playback", Controls::kBoth);
    mixerDevices.AddSource(desk, 0, "Aux", Controls::kBoth);
    // The lines play at 40000 until the program touches them.
    mixerDevices.SetVolume(usb, 0, 0, 40000);
    mixerDevices.SetVolume(usb, 0, 1, 40000);
    mixerDevices.SetVolume(desk, 0, 0, 40000);
  }
  ~MixerSupervision() override {
    window.reset();
    mixer::FreeMixerDevices();
    settings::LinesMuted = true;
  }

  // Starts the window with the mixer in use and these [Settings] and [Mixer] lines.
  void Create(const std::string& mixerSection, const std::string& settingsSection = "") {
    WriteSettings("UseSoundCard=0\nUseMixer=1\n" + settingsSection + "[Mixer]\n" + mixerSection);
    WindowFixture::Create();
    // A controlling program already connected, to hear the notifications.
    desktop.AddWindow(kPeer, "Controller");
    window->CommandChannel->AnnouncePeer(kPeer);
    window->CommandChannel->ScanPeers();
  }

  // How many times the peer was told code/argument.
  size_t Told(uint16_t code, uint16_t argument) const {
    return desktop.TargetsOf(link::TWinMSG::EncodeCommand(code, argument)).size();
  }
  size_t ToldOnline() const { return Told(link::NTF_ONLINE, link::DEV_MIXER); }
  size_t ToldOffline() const { return Told(link::NTF_OFFLINE, link::DEV_MIXER); }

  // A command from the connected controlling program.
  void Command(uint16_t code, uint16_t argument) {
    desktop.Deliver(link::WM_WINMSG, kPeer, link::TWinMSG::EncodeCommand(code, argument));
  }

  uint32_t UsbVolume(int32_t line) { return mixerDevices.Volume(usb, 0, line - 1); }
  bool UsbMuted(int32_t line) { return mixerDevices.Muted(usb, 0, line - 1); }

  // Takes a device out of the system, as unplugging it does; Return brings it back.
  void Unplug(uint32_t device) {
    unplugged = mixerDevices.devices.at(device);
    mixerDevices.devices.erase(mixerDevices.devices.begin() + device);
  }
  void Return(uint32_t device) {
    mixerDevices.devices.insert(mixerDevices.devices.begin() + device, unplugged);
  }

  void ApplyDialog(std::function<void()> changes) {
    runDialog = [changes] {
      changes();
      return true;
    };
    settingsButton.Click();
  }

  VirtualMixerDevices::Device unplugged;
  uint32_t usb = 0, desk = 0;
};

const std::string kUsbPcm = "Device0=USB Mixer\nRoot0=0\nLine0=1\nLevel0=40000\n";

TEST_F(MixerSupervision, FirstCheckOpensAndFadesTheLineOutUnderStopThenShowsOnline) {
  Create(kUsbPcm + "FadeOut=2\nFadeIn=1\n");
  timers.Advance(10);
  // The check that creates the controller opens the lines but leaves the status as it was.
  ASSERT_TRUE(window->LineMixer);
  EXPECT_TRUE(window->LineMixer->Active());
  EXPECT_EQ(labMixer.text, "STOP");
  EXPECT_EQ(sgMixer.text, "USB Mixer");
  EXPECT_EQ(window->LineIds, (std::array<int32_t, 2>{1, -1}));
  EXPECT_EQ(window->LineMixer->GetLevel(1), 40000);
  EXPECT_EQ(ToldOnline(), 1u);
  EXPECT_TRUE(settings::LinesMuted);

  // Without SetLevel the line fades out over FadeOut seconds and ends muted at its level.
  timers.Advance(1000);
  EXPECT_NEAR(UsbVolume(kPcm), 20000, 1000);
  EXPECT_FALSE(UsbMuted(kPcm));
  EXPECT_EQ(labMixer.text, "Online");  // the check 510 ms after the first
  EXPECT_EQ(labMixer.color, ui::colors::kGreen);
  EXPECT_EQ(sgMixer.progress, 0);
  timers.Advance(1100);
  EXPECT_TRUE(UsbMuted(kPcm));
  EXPECT_EQ(UsbVolume(kPcm), 40000u);  // OnlyDown off: the level waits behind the switch
  EXPECT_EQ(sgLevel.progress, 0);
  EXPECT_EQ(ToldOnline(), 1u);  // told once, when the lines were opened
  EXPECT_EQ(ToldOffline(), 0u);
}

TEST_F(MixerSupervision, SetLevelFadesTheLinesInAndTheLevelGaugeWithThem) {
  mixerDevices.SetMuted(usb, 0, 0, true);
  Create("Device0=USB Mixer\nLine0=1\nLevel0=50000\nSetLevel=1\nFadeIn=1\n");
  timers.Advance(10);
  EXPECT_FALSE(settings::LinesMuted);
  EXPECT_FALSE(UsbMuted(kPcm));
  timers.Advance(500);
  // The muted line climbs from silence to its configured level, the gauge from 0 to 100 %;
  // the device hears the line timer's value, up to 40 ms (2000 here) behind.
  EXPECT_NEAR(UsbVolume(kPcm), 24000, 1100);
  EXPECT_NEAR(sgLevel.progress, 50, 2);
  timers.Advance(600);
  EXPECT_EQ(UsbVolume(kPcm), 50000u);
  EXPECT_EQ(sgLevel.progress, 100);
}

TEST_F(MixerSupervision, OnlyTheFirstChoiceIsLookedUpAndOpenedWithoutSeparateControl) {
  Create(kUsbPcm + "Device1=Desk Mixer\nLine1=1\nLRControl=0\n");
  timers.Advance(10);
  EXPECT_EQ(window->MixerDeviceIndex, (std::array<int32_t, 2>{0, -1}));
  EXPECT_EQ(window->LineIds, (std::array<int32_t, 2>{1, -1}));
  EXPECT_EQ(window->LineMixer->ControlledLineCount(), 1u);

  window.reset();
  mixer::FreeMixerDevices();
  Create(kUsbPcm + "Device1=Desk Mixer\nLine1=1\nLRControl=1\nFadeOut=0\n");
  timers.Advance(10);
  EXPECT_EQ(window->MixerDeviceIndex, (std::array<int32_t, 2>{0, 1}));
  EXPECT_EQ(window->LineIds, (std::array<int32_t, 2>{1, 2}));
  EXPECT_TRUE(UsbMuted(kPcm));
  EXPECT_TRUE(mixerDevices.Muted(desk, 0, 0));  // the two lines are muted as one group

  // Back to one side: the right line is let go, though its device is still known.
  ApplyDialog([] {
    settings::Settings.LRControl = false;
    settings::MixerLinesChanged = true;
  });
  timers.Advance(40);
  EXPECT_EQ(window->LineMixer->ControlledLineCount(), 1u);
  EXPECT_EQ(window->LineIds[0], 3);
}

TEST_F(MixerSupervision, ADeviceNameInAnotherLetterCaseIsFound) {
  Create("Device0=usb MIXER\nLine0=1\n");
  timers.Advance(520);
  EXPECT_EQ(labMixer.text, "Online");
  EXPECT_EQ(window->MixerDeviceIndex[0], 0);
  EXPECT_EQ(sgMixer.text, "usb MIXER");  // the name as the settings give it
}

TEST_F(MixerSupervision, WithSeparateControlBothDevicesMustBeThereAndTheMissingOneIsNamed) {
  struct Case {
    std::string left, right, named;
  };
  // The gauge names the first device not found, the left one before the right.
  for (const Case& c : {Case{"Gone Mixer", "Desk Mixer", "Gone Mixer"},
                        Case{"USB Mixer", "Lost Mixer", "Lost Mixer"},
                        Case{"Gone Mixer", "Lost Mixer", "Gone Mixer"}}) {
    SCOPED_TRACE(c.left + " / " + c.right);
    window.reset();
    mixer::FreeMixerDevices();
    sgMixer.text.clear();
    Create("Device0=" + c.left + "\nLine0=1\nDevice1=" + c.right + "\nLine1=1\nLRControl=1\n");
    timers.Advance(520);
    EXPECT_EQ(labMixer.text, "WAIT");
    EXPECT_FALSE(window->LineMixer->Active());
    EXPECT_EQ(ToldOnline(), 0u);
    EXPECT_EQ(sgMixer.text, c.named);
  }
}

TEST_F(MixerSupervision, AStoredSoundServerMixerIsFoundUnderTheServerThatRunsNow) {
  // PipeWire serves the desktop; the choice was stored while PulseAudio did.
  const uint32_t server = mixerDevices.AddDevice("PipeWire");
  mixerDevices.AddDestination(server, "Playback", Controls::kBoth);
  Create("Device0=pulseaudio\nLine0=0\n");
  timers.Advance(520);
  EXPECT_EQ(labMixer.text, "Online");
  EXPECT_EQ(window->MixerDeviceIndex[0], static_cast<int32_t>(server));
  // Another device's name is never taken for the server's.
  settings::Settings.Lines[0].Device = "PulseAudio Mixer";
  EXPECT_FALSE(window->CheckMixerLine({"USB Mixer", "PipeWire"}, 0));
  settings::Settings.Lines[0].Device = "PulseAudio";
  EXPECT_FALSE(window->CheckMixerLine({"USB Mixer", "Desk Mixer"}, 0));
  // A device truly named as stored comes first.
  EXPECT_TRUE(window->CheckMixerLine({"PipeWire", "PulseAudio"}, 0));
  EXPECT_EQ(window->MixerDeviceIndex[0], 1);
}

TEST_F(MixerSupervision, AnIncompleteChoiceShowsSelectAndKeepsAnExistingController) {
  Create("Device0=\n");
  timers.Advance(10);
  EXPECT_FALSE(window->LineMixer);
  EXPECT_EQ(labMixer.text, "SELECT");
  EXPECT_EQ(labMixer.color, ui::colors::kRed);
  EXPECT_EQ(sgMixer.text, "Select mixer(s)");
  EXPECT_EQ(sgMixer.progress, 0);

  window.reset();
  mixer::FreeMixerDevices();
  Create(kUsbPcm);
  timers.Advance(10);
  ASSERT_TRUE(window->LineMixer);
  // The right choice is needed as soon as both sides are controlled.
  settings::Settings.LRControl = true;
  timers.Advance(510);
  EXPECT_EQ(labMixer.text, "SELECT");
  EXPECT_TRUE(window->LineMixer);
  EXPECT_TRUE(window->LineMixer->Active());

  // A wait in progress gives way to SELECT with the gauge back at 0.
  window.reset();
  mixer::FreeMixerDevices();
  Create("Device0=Gone Mixer\nLine0=1\nWait=5\n");
  timers.Advance(10 + 510 * 3);
  ASSERT_EQ(labMixer.text, "WAIT");
  ASSERT_EQ(sgMixer.progress, 30);
  settings::Settings.Lines[0].Device.clear();
  timers.Advance(510);
  EXPECT_EQ(labMixer.text, "SELECT");
  EXPECT_EQ(sgMixer.text, "Select mixer(s)");
  EXPECT_EQ(sgMixer.progress, 0);
}

TEST_F(MixerSupervision, AMissingDeviceWaitsMutedThenGoesOfflineAfterTheWait) {
  Create("Device0=Gone Mixer\nLine0=1\nWait=5\n");
  timers.Advance(10);
  ASSERT_TRUE(window->LineMixer);
  EXPECT_FALSE(window->LineMixer->Active());
  EXPECT_EQ(labMixer.text, "STOP");
  EXPECT_EQ(sgMixer.text, "Gone Mixer");
  EXPECT_EQ(ToldOnline(), 0u);
  // Checks run every 510 ms; the wait progress is cut toward zero.
  timers.Advance(510);
  EXPECT_EQ(labMixer.text, "WAIT");
  EXPECT_EQ(labMixer.color, ui::colors::kRed);
  EXPECT_EQ(sgMixer.progress, 10);
  timers.Advance(510 * 8);
  EXPECT_EQ(labMixer.text, "WAIT");
  EXPECT_EQ(sgMixer.progress, 91);  // 4590 of 5000 ms
  EXPECT_EQ(ToldOffline(), 0u);
  timers.Advance(510);
  EXPECT_EQ(labMixer.text, "OFFLINE");
  EXPECT_EQ(sgMixer.progress, 100);
  EXPECT_EQ(ToldOffline(), 1u);
  timers.Advance(510 * 3);
  EXPECT_EQ(ToldOffline(), 4u);  // on every check while offline
  EXPECT_EQ(ToldOnline(), 0u);
}

TEST_F(MixerSupervision, AWaitOfNoLengthHasRunOutAtOnce) {
  Create("Device0=Gone Mixer\nLine0=1\nWait=0\n");
  timers.Advance(520);
  EXPECT_EQ(labMixer.text, "OFFLINE");
  EXPECT_EQ(sgMixer.progress, 100);

  // A device change starts a new wait on the same tick it is drawn: not yet past its end.
  mixerDevices.AddDevice("Another");
  timers.Advance(510);
  EXPECT_EQ(labMixer.text, "WAIT");
  EXPECT_EQ(sgMixer.progress, 100);
  timers.Advance(510);
  EXPECT_EQ(labMixer.text, "OFFLINE");
}

TEST_F(MixerSupervision, TheDeviceVanishingMutesAtOnceAndItsReturnReopensTheLines) {
  Create(kUsbPcm + "SetLevel=1\nFadeIn=1\nFadeOut=3\nWait=2\n");
  timers.Advance(1100);
  ASSERT_EQ(labMixer.text, "Online");
  ASSERT_EQ(sgLevel.progress, 100);
  ASSERT_FALSE(settings::LinesMuted);

  Unplug(usb);
  timers.Advance(510);
  // Noticed by the device count: reset, a new wait, the device missing, the gauge down at once.
  EXPECT_EQ(labMixer.text, "WAIT");
  EXPECT_EQ(sgMixer.text, "USB Mixer");
  EXPECT_EQ(sgMixer.progress, 0);
  EXPECT_EQ(sgLevel.progress, 0);
  EXPECT_TRUE(settings::LinesMuted);
  EXPECT_FALSE(window->LineMixer->Active());
  timers.Advance(510 * 3);
  EXPECT_EQ(labMixer.text, "WAIT");
  EXPECT_EQ(sgMixer.progress, 76);  // 1530 of 2000 ms
  timers.Advance(510);
  EXPECT_EQ(labMixer.text, "OFFLINE");
  EXPECT_EQ(ToldOffline(), 1u);

  // It comes back at another volume; the lines are opened anew and brought to their level.
  Return(usb);
  mixerDevices.SetVolume(usb, 0, 0, 10000);
  timers.Advance(510);
  EXPECT_EQ(labMixer.text, "Online");  // drawn on the check that reopened the lines
  EXPECT_EQ(sgMixer.progress, 0);
  EXPECT_EQ(ToldOnline(), 2u);
  EXPECT_EQ(window->LineIds[0], 1);
  EXPECT_EQ(window->LineMixer->GetLevel(1), 40000);
  timers.Advance(500);
  EXPECT_GT(UsbVolume(kPcm), 10000u);  // on its way up from where the device was
  EXPECT_LT(UsbVolume(kPcm), 40000u);
  timers.Advance(600);
  EXPECT_EQ(UsbVolume(kPcm), 40000u);
  EXPECT_EQ(sgLevel.progress, 100);
}

TEST_F(MixerSupervision, ADeviceAddedWhileOnlineReopensTheLinesInTheirStartingState) {
  Create(kUsbPcm + "FadeOut=1\n");
  timers.Advance(1100);
  ASSERT_TRUE(UsbMuted(kPcm));
  window->SetMute(false, true);
  ASSERT_FALSE(UsbMuted(kPcm));

  mixerDevices.AddDevice("Headset");
  timers.Advance(510);
  EXPECT_EQ(labMixer.text, "Online");
  EXPECT_EQ(ToldOnline(), 2u);
  EXPECT_EQ(window->LineIds[0], 1);  // a fresh opening numbers from 1 again
  EXPECT_EQ(window->LineMixer->ControlledLineCount(), 1u);
  timers.Advance(1100);
  EXPECT_TRUE(UsbMuted(kPcm));
  EXPECT_TRUE(settings::LinesMuted);
}

TEST_F(MixerSupervision, AReopeningNeverLosesALineToAnIdOfTheLastOpening) {
  // The left line does not exist at first; the right one gets id 1.
  Create("Device0=USB Mixer\nLine0=3\nDevice1=Desk Mixer\nLine1=1\nLRControl=1\n");
  timers.Advance(10);
  ASSERT_EQ(window->LineIds, (std::array<int32_t, 2>{-1, 1}));
  // A new card brings the missing line along; the reopening gives the left line id 1.
  mixerDevices.AddSource(usb, 0, "Aux", Controls::kBoth);
  mixerDevices.AddDevice("Headset");
  timers.Advance(510);
  EXPECT_EQ(window->LineIds, (std::array<int32_t, 2>{1, 2}));
  timers.Advance(40);
  ASSERT_EQ(window->LineMixer->ControlledLineCount(), 2u);
  EXPECT_FALSE(window->LineMixer->FindLine(1)->RemovePending);
}

TEST_F(MixerSupervision, ALineNotOnTheDeviceIsLeftOutAndTheMixerStillOnline) {
  Create("Device0=USB Mixer\nLine0=7\n");
  timers.Advance(520);
  EXPECT_EQ(labMixer.text, "Online");
  EXPECT_EQ(window->LineIds[0], -1);
}

TEST_F(MixerSupervision, DoubleClickOnLevelFadesInThenOutWithoutChangingWhatIsWanted) {
  Create(kUsbPcm + "FadeOut=1\nFadeIn=2\n");
  timers.Advance(1100);
  ASSERT_TRUE(UsbMuted(kPcm));
  const bool wanted = window->MuteWanted;

  labSilence.OnDoubleClick();
  EXPECT_FALSE(settings::LinesMuted);
  EXPECT_FALSE(UsbMuted(kPcm));
  timers.Advance(1000);
  EXPECT_NEAR(UsbVolume(kPcm), 20000, 1000);
  EXPECT_NEAR(sgLevel.progress, 50, 2);
  timers.Advance(1100);
  EXPECT_EQ(UsbVolume(kPcm), 40000u);
  EXPECT_EQ(sgLevel.progress, 100);

  labSilence.OnDoubleClick();
  EXPECT_TRUE(settings::LinesMuted);
  timers.Advance(500);
  EXPECT_NEAR(UsbVolume(kPcm), 20000, 1000);
  EXPECT_NEAR(sgLevel.progress, 50, 2);
  timers.Advance(600);
  EXPECT_TRUE(UsbMuted(kPcm));
  EXPECT_EQ(sgLevel.progress, 0);
  EXPECT_EQ(window->MuteWanted, wanted);
}

TEST_F(MixerSupervision, FadeOutZeroMutesAtOnceAndTheGaugeJumpsToZero) {
  Create(kUsbPcm + "SetLevel=1\nFadeIn=0\nFadeOut=0\nOnlyDown=1\n");
  timers.Advance(10);
  ASSERT_EQ(sgLevel.progress, 100);
  ASSERT_FALSE(UsbMuted(kPcm));
  labSilence.OnDoubleClick();
  EXPECT_EQ(sgLevel.progress, 0);
  EXPECT_TRUE(UsbMuted(kPcm));
  EXPECT_EQ(UsbVolume(kPcm), 0u);  // OnlyDown keeps the volume down behind the switch
}

TEST_F(MixerSupervision, DoubleClickWithoutAControllerDoesNothing) {
  Create("Device0=\n");
  timers.Advance(10);
  labSilence.OnDoubleClick();
  EXPECT_TRUE(settings::LinesMuted);
  EXPECT_EQ(sgLevel.progress, 0);
}

TEST_F(MixerSupervision, InInteractiveModeTheLinesOpenAsLastAskedAndObeyWhileStopped) {
  mixerDevices.SetMuted(usb, 0, 0, true);
  Create(kUsbPcm + "FadeIn=0\nFadeOut=0\nSetLevel=1\n", "SourceMode=1\n");
  ASSERT_TRUE(window->MuteWanted);  // SetLevel is forced off in interactive mode
  // A restore before there is any controller only records the wish.
  Command(link::CMD_UNMUTE, 0);
  EXPECT_FALSE(window->LineMixer);
  EXPECT_TRUE(UsbMuted(kPcm));
  EXPECT_EQ(sgLevel.progress, 0);
  // The start opens the lines as last asked: restored.
  Command(link::CMD_RUN, 0);
  timers.Advance(10);
  EXPECT_FALSE(UsbMuted(kPcm));
  EXPECT_EQ(UsbVolume(kPcm), 40000u);
  EXPECT_EQ(sgLevel.progress, 100);

  // Stopped, the commands still move the lines and the gauge, and nothing else.
  Command(link::CMD_STOP, 0);
  EXPECT_FALSE(UsbMuted(kPcm));
  Command(link::CMD_MUTE, 0);
  EXPECT_TRUE(UsbMuted(kPcm));
  EXPECT_EQ(sgLevel.progress, 0);
  Command(link::CMD_UNMUTE, 0);
  EXPECT_FALSE(UsbMuted(kPcm));
  EXPECT_EQ(sgLevel.progress, 100);
  EXPECT_EQ(labMixer.text, "STOP");  // no check ran to redraw it
  EXPECT_FALSE(window->WorkTimerEnabled());
}

TEST_F(MixerSupervision, InInteractiveModeTheFirstOpeningFollowsTheCommandsBeforeIt) {
  struct Case {
    const char* name;
    std::vector<std::pair<uint16_t, uint16_t>> commands;
    bool playing;
  };
  for (const Case& c :
       {Case{"run --restore", {{link::CMD_RUN, link::RUN_RESTORE}}, true},
        Case{"run", {{link::CMD_RUN, 0}}, false}, Case{"run 3", {{link::CMD_RUN, 3}}, false},
        Case{"unmute, run", {{link::CMD_UNMUTE, 0}, {link::CMD_RUN, 0}}, true},
        Case{"run --restore, mute",
             {{link::CMD_RUN, link::RUN_RESTORE}, {link::CMD_MUTE, 0}},
             false}}) {
    SCOPED_TRACE(c.name);
    window.reset();
    mixer::FreeMixerDevices();
    mixerDevices.SetMuted(usb, 0, 0, true);
    Create(kUsbPcm + "FadeIn=0\nFadeOut=0\n", "SourceMode=1\n");
    // All arrive before the first check: no line controller exists yet.
    for (const auto& [code, argument] : c.commands)
      Command(code, argument);
    ASSERT_FALSE(window->LineMixer);
    timers.Advance(10);
    ASSERT_TRUE(window->LineMixer);
    EXPECT_EQ(UsbMuted(kPcm), !c.playing);
    EXPECT_EQ(settings::LinesMuted, !c.playing);
    EXPECT_EQ(sgLevel.progress, c.playing ? 100 : 0);
  }
}

TEST_F(MixerSupervision, TurningTheMixerOffLetsTheLinesGoAsTheyAre) {
  Create(kUsbPcm + "SetLevel=1\nFadeIn=0\n");
  timers.Advance(10);
  const size_t writes = mixerDevices.writes.size();
  settings::Settings.UseMixer = false;
  timers.Advance(510);
  EXPECT_FALSE(window->LineMixer);
  EXPECT_FALSE(panMixer.Visible());
  EXPECT_EQ(form.clientHeight, 37);
  EXPECT_EQ(mixerDevices.writes.size(), writes);
  EXPECT_FALSE(UsbMuted(kPcm));
}

TEST_F(MixerSupervision, ANewLevelIsHeardAtOnceOnPlayingLinesAndOnlyKeptOnMutedOnes) {
  Create(kUsbPcm + "FadeOut=0\nFadeIn=1\n");
  timers.Advance(10);
  ASSERT_TRUE(UsbMuted(kPcm));
  const size_t writes = mixerDevices.writes.size();
  ApplyDialog([] {
    settings::Settings.Lines[0].Level = 30000;
    settings::MixerLevelChanged = true;
  });
  // Muted in the middle of a silence: the line stays silent and keeps the level for later.
  EXPECT_TRUE(UsbMuted(kPcm));
  EXPECT_EQ(mixerDevices.writes.size(), writes);
  EXPECT_EQ(window->LineMixer->GetLevel(1), 30000);
  labSilence.OnDoubleClick();
  timers.Advance(1100);
  EXPECT_EQ(UsbVolume(kPcm), 30000u);

  // Playing: the new level is heard at once.
  ApplyDialog([] {
    settings::Settings.Lines[0].Level = 50000;
    settings::MixerLevelChanged = true;
  });
  EXPECT_EQ(UsbVolume(kPcm), 50000u);
  EXPECT_FALSE(UsbMuted(kPcm));
  EXPECT_EQ(window->LineMixer->GetLevel(1), 50000);
}

}  // namespace
}  // namespace calvora::app
