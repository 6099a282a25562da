// The start-up both programs share: the settings button of the window it builds opens the
// dialog on the window's own services, and the dialog sees the window's line controller of
// the moment, so that it leaves those lines alone.
#include "app/MainWindowStart.h"

#include <gtest/gtest.h>

#include "WindowFixture.h"
#include "mixer/MixerXP.h"

namespace calvora::app {
namespace {

using Controls = testing::VirtualMixerDevices::Controls;

class MainWindowStart : public WindowFixture<TCV_AudioMixer> {
 protected:
  ~MainWindowStart() override {
    window.reset();
    mixer::FreeMixerDevices();
    settings::LinesMuted = true;
  }

  // Starts the window the programs' way; the dialog records what it was given.
  void Start() {
    const MainWindowWidgets widgets{.Form = form,
                                    .PanWork = panWork,
                                    .PanCard = panCard,
                                    .SGCard = sgCard,
                                    .LabCard = labCard,
                                    .PanLed = panLed,
                                    .ImgLed = imgLed,
                                    .PanMixer = panMixer,
                                    .SGMixer = sgMixer,
                                    .LabMixer = labMixer,
                                    .SGLevel = sgLevel,
                                    .LabSilence = labSilence,
                                    .PanSett = panSett,
                                    .SBSettings = settingsButton,
                                    .TrayIcon = tray,
                                    .MSG = msg};
    window = StartMainWindow(
        widgets,
        {.Clock = clock,
         .Timers = timers,
         .Desktop = desktop,
         .WaveInput = waveInput,
         .MixerDevices = mixerDevices,
         .Store = *store,
         .FileVersion = "1.0.0.1",
         .RaisePriority = [] {},
         .RunSettingsDialog = nullptr},
        [this](const settings::SettingServices& services) {
          ++dialogRuns;
          seen.push_back({&services.WaveInput, &services.MixerDevices, &services.Clock,
                          &services.Timers, &services.Store, services.MainLineMixer()});
          return saveInDialog();
        });
  }

  struct Seen {
    const void* waveInput;
    const void* mixerDevices;
    const void* clock;
    const void* timers;
    const void* store;
    const mixer::TCVMixer* mainLineMixer;
  };
  int dialogRuns = 0;
  std::vector<Seen> seen;
  std::function<bool()> saveInDialog = [] { return false; };
};

TEST_F(MainWindowStart, TheDialogRunsOnTheWindowsServicesAndSeesItsLineControllerOfTheMoment) {
  const uint32_t usb = mixerDevices.AddDevice("USB Mixer");
  mixerDevices.AddDestination(usb, "Playback", Controls::kBoth);
  mixerDevices.AddSource(usb, 0, "PCM", Controls::kBoth);
  WriteSettings("UseSoundCard=0\nUseMixer=1\n[Mixer]\nDevice0=USB Mixer\nRoot0=0\nLine0=1\n");
  Start();
  timers.Advance(10);
  ASSERT_TRUE(window->LineMixer);

  // A save that changes the mixer device: the window lets its controller go until its next
  // check, and a dialog opened meanwhile sees none.
  saveInDialog = [] {
    settings::MixerDeviceChanged = true;
    return true;
  };
  settingsButton.Click();
  ASSERT_EQ(window->LineMixer, nullptr);
  saveInDialog = [] { return false; };
  settingsButton.Click();

  ASSERT_EQ(dialogRuns, 2);
  const Seen& first = seen[0];
  EXPECT_EQ(first.waveInput, &waveInput);
  EXPECT_EQ(first.mixerDevices, &mixerDevices);
  EXPECT_EQ(first.clock, &clock);
  EXPECT_EQ(first.timers, &timers);
  EXPECT_EQ(first.store, store.get());
  EXPECT_NE(first.mainLineMixer, nullptr);
  EXPECT_EQ(seen[1].mainLineMixer, nullptr) << "the controller of the moment";
}

}  // namespace
}  // namespace calvora::app
