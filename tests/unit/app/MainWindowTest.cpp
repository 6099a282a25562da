#include <gtest/gtest.h>

#include "WindowFixture.h"

namespace calvora::app {
namespace {

using namespace calvora::testing;

// The window with its device checks counted instead of run.
class CountingWindow : public TCV_AudioMixer {
 public:
  using TCV_AudioMixer::TCV_AudioMixer;
  int cardChecks = 0;
  int mixerChecks = 0;
  std::vector<int64_t> cardCheckTimes;

 protected:
  bool CheckWCapture() override {
    ++cardChecks;
    cardCheckTimes.push_back(NowMs);
    return true;
  }
  bool CheckMixer() override {
    ++mixerChecks;
    return true;
  }
  bool TryStartMixer() override {
    ++mixerStarts;
    return true;
  }

 public:
  int mixerStarts = 0;
};

using MainWindowTest = WindowFixture<CountingWindow>;

TEST_F(MainWindowTest, CreationSetsCaptionPriorityAndStartsTheWorkTimer) {
  Create();
  EXPECT_EQ(form.caption, "Calvora Audio Mixer 1.0.0.1");
  EXPECT_EQ(tray.hint, "Calvora Audio Mixer");
  EXPECT_EQ(priorityRaised, 1);
  EXPECT_TRUE(window->WorkTimerEnabled());
  EXPECT_EQ(window->LineIds, (std::array<int32_t, 2>{-1, -1}));
  EXPECT_TRUE(window->AskOnClose);
  EXPECT_TRUE(window->MuteWanted);  // SetLevel is off by default
  EXPECT_FALSE(tray.visible);
  EXPECT_TRUE(form.ShownOnDesktop());
  // The meter is laid out on the 24 dB scale and shown unlit on black.
  ASSERT_FALSE(imgLed.rects.empty());
  EXPECT_EQ(imgLed.rects.front().color, ui::colors::kBlack);
  EXPECT_EQ(imgLed.repaints, 1);
}

TEST_F(MainWindowTest, InteractiveModeWaitsForTheControllerAndForcesSetLevelOff) {
  WriteSettings("SourceMode=1\n[Mixer]\nSetLevel=1\n");
  Create();
  EXPECT_FALSE(window->WorkTimerEnabled());
  EXPECT_FALSE(settings::Settings.SetLevel);
  EXPECT_TRUE(window->MuteWanted);
  timers.Advance(2000);
  EXPECT_EQ(window->cardChecks, 0);
}

TEST_F(MainWindowTest, SetLevelOutsideInteractiveModeStartsWithTheLinesWanted) {
  WriteSettings("SourceMode=0\n[Mixer]\nSetLevel=1\n");
  Create();
  EXPECT_TRUE(settings::Settings.SetLevel);
  EXPECT_FALSE(window->MuteWanted);
}

TEST_F(MainWindowTest, LayoutHeightFollowsThePanelsShown) {
  struct Case {
    const char* ini;
    int height;
    bool card, mixer;
  };
  for (const Case& c : {Case{"UseSoundCard=0\nUseMixer=0\n", 37, false, false},
                        Case{"UseSoundCard=1\nUseMixer=0\n", 117, true, false},
                        Case{"UseSoundCard=0\nUseMixer=1\n", 105, false, true},
                        Case{"UseSoundCard=1\nUseMixer=1\n", 185, true, true}}) {
    WriteSettings(c.ini);
    window.reset();
    Create();
    SCOPED_TRACE(c.ini);
    EXPECT_EQ(form.clientHeight, c.height);
    EXPECT_EQ(panWork.ClientHeight(), c.height);
    EXPECT_EQ(panCard.Visible(), c.card);
    EXPECT_EQ(panMixer.Visible(), c.mixer);
  }
}

TEST_F(MainWindowTest, FirstTickRunsBothChecksThenEveryStrictly500Ms) {
  Create();
  timers.Advance(10);
  EXPECT_EQ(window->cardChecks, 1);
  EXPECT_EQ(window->mixerChecks, 1);
  // The next check needs a clock more than 500 ms after the first check's tick.
  timers.Advance(500);
  EXPECT_EQ(window->cardChecks, 1);
  timers.Advance(10);
  EXPECT_EQ(window->cardChecks, 2);
  EXPECT_EQ(window->mixerChecks, 2);
  EXPECT_EQ(window->cardCheckTimes[1] - window->cardCheckTimes[0], 510);
}

TEST_F(MainWindowTest, WithBlocksReturnedOnTheMainThreadTheTimerTicksOnlyForTheChecks) {
  waveInput.ReturnsOnMainThread = true;
  Create();
  EXPECT_EQ(window->WorkTimerInterval(), 10);  // the first checks come at once
  timers.Advance(10);
  EXPECT_EQ(window->cardChecks, 1);
  EXPECT_EQ(window->WorkTimerInterval(), 510);
  // The checks keep their 510 ms rhythm with one tick each.
  timers.Advance(3000);
  EXPECT_EQ(window->cardChecks, 6);
  EXPECT_EQ(window->mixerChecks, 6);
  for (size_t i = 1; i < window->cardCheckTimes.size(); ++i)
    EXPECT_EQ(window->cardCheckTimes[i] - window->cardCheckTimes[i - 1], 510);
}

TEST_F(MainWindowTest, ChecksKeepRunningWhenTheSystemTickWraps) {
  clock.SetTick(0xFFFFFFFFu - 1200);
  Create();
  timers.Advance(3000);
  // Ticks at 10, 520, 1030, ... : six checks in three seconds, across the wrap.
  EXPECT_EQ(window->cardChecks, 6);
  EXPECT_EQ(window->mixerChecks, 6);
  EXPECT_GT(window->NowMs, int64_t{0xFFFFFFFF});
  for (size_t i = 1; i < window->cardCheckTimes.size(); ++i)
    EXPECT_EQ(window->cardCheckTimes[i] - window->cardCheckTimes[i - 1], 510);
}

TEST_F(MainWindowTest, HideStartsInTheTrayAndTheTrayBringsTheWindowBack) {
  WriteSettings("Hide=1\n");
  Create();
  EXPECT_EQ(form.state, VirtualWindow::State::Hidden);
  EXPECT_TRUE(tray.visible);
  tray.OnDoubleClick();
  EXPECT_TRUE(form.ShownOnDesktop());
  EXPECT_FALSE(tray.visible);
  form.OnMinimize();
  EXPECT_EQ(form.state, VirtualWindow::State::Hidden);
  form.OnRestore();
  EXPECT_TRUE(form.ShownOnDesktop());
  EXPECT_FALSE(tray.visible);
}

TEST_F(MainWindowTest, WithoutANotificationAreaHideOnlyMinimizes) {
  WriteSettings("Hide=1\n");
  tray.available = false;
  Create();
  EXPECT_EQ(form.state, VirtualWindow::State::Minimized);
  EXPECT_FALSE(tray.visible);
}

TEST_F(MainWindowTest, MinimizeWithoutHideLeavesTheWindowOnTheDesktop) {
  Create();
  form.Minimize();
  form.OnMinimize();
  EXPECT_EQ(form.state, VirtualWindow::State::Minimized);
  EXPECT_FALSE(tray.visible);
}

TEST_F(MainWindowTest, ClosingInNormalModeNeverAsksAndStopsTheTimerBeforeThePause) {
  Create();
  bool timerOnDuringPause = true;
  timers.onProcessPendingEvents = [&] { timerOnDuringPause = window->WorkTimerEnabled(); };
  form.Close();
  EXPECT_TRUE(form.closed);
  EXPECT_TRUE(msg.confirmations.empty());
  EXPECT_FALSE(window->WorkTimerEnabled());
  EXPECT_FALSE(timerOnDuringPause);
  EXPECT_EQ(clock.SleptMs(), 10);
}

TEST_F(MainWindowTest, ClosingInInteractiveModeAsksAndNoKeepsEverythingRunning) {
  WriteSettings("SourceMode=1\n");
  Create();
  msg.answers = {false};
  form.Close();
  ASSERT_EQ(msg.confirmations.size(), 1u);
  EXPECT_EQ(msg.confirmations[0], "Are you sure exit this program?");
  EXPECT_FALSE(form.closed);
  EXPECT_EQ(clock.SleptMs(), 0);

  msg.answers = {true};
  form.Close();
  EXPECT_TRUE(form.closed);
  EXPECT_EQ(msg.confirmations.size(), 2u);
}

TEST_F(MainWindowTest, SessionEndClosesWithoutAskingEvenInInteractiveMode) {
  WriteSettings("SourceMode=1\n");
  Create();
  window->WMSystem_Shutdown_Query();
  EXPECT_TRUE(form.closed);
  EXPECT_TRUE(msg.confirmations.empty());
  EXPECT_FALSE(window->AskOnClose);
}

TEST_F(MainWindowTest, SessionEndWhileTheConfirmationIsShownDoesNotWaitForTheUser) {
  WriteSettings("SourceMode=1\n");
  Create();
  msg.onShow = [&] { window->WMSystem_Shutdown_Query(); };
  form.Close();
  EXPECT_TRUE(form.closed);
  EXPECT_EQ(msg.confirmations.size(), 1u);
  EXPECT_FALSE(window->CommandChannel);
}

TEST_F(MainWindowTest, SettingsButtonRestoresACancelledEditAndAppliesTheLayout) {
  WriteSettings("UseSoundCard=1\nUseMixer=0\n");
  Create();
  runDialog = [] {
    settings::Settings.UseMixer = true;
    settings::CardChanged = true;
    return false;
  };
  settingsButton.Click();
  EXPECT_FALSE(settings::Settings.UseMixer);
  EXPECT_EQ(form.clientHeight, 117);
  EXPECT_FALSE(settings::CardChanged);  // acted on and cleared even after a cancel

  runDialog = [] {
    settings::Settings.UseMixer = true;
    settings::MixerDeviceChanged = true;
    settings::MixerLinesChanged = true;
    settings::MixerLevelChanged = true;
    return true;
  };
  settingsButton.Click();
  EXPECT_TRUE(settings::Settings.UseMixer);
  EXPECT_EQ(form.clientHeight, 185);
  EXPECT_FALSE(settings::MixerDeviceChanged);
  EXPECT_FALSE(settings::MixerLinesChanged);
  EXPECT_FALSE(settings::MixerLevelChanged);
}

TEST_F(MainWindowTest, LevelGaugeFollowsTheDisplayFaderUntilClosing) {
  Create();
  ASSERT_TRUE(window->LevelFader);
  EXPECT_EQ(sgLevel.progress, 0);
  window->LevelFader->Start(100, 1.0);
  timers.Advance(500);
  EXPECT_NEAR(sgLevel.progress, 50, 2);
  timers.Advance(600);
  EXPECT_EQ(sgLevel.progress, 100);
  window->ShowMixerValue(*window->LevelFader, 99.99);
  EXPECT_EQ(sgLevel.progress, 99);  // cut toward zero, not rounded

  window->LevelFader->Start(0, 1.0);
  timers.Advance(300);
  form.Close();
  EXPECT_FALSE(window->LevelFader);  // released on closing: the gauge stays where it was
  const int shown = sgLevel.progress;
  timers.Advance(1000);
  EXPECT_EQ(sgLevel.progress, shown);
}

TEST_F(MainWindowTest, ClosingSaysGoodbyeToEveryPeerBeforeTheChannelGoes) {
  Create();
  ASSERT_TRUE(window->CommandChannel);
  desktop.AddWindow(300, "Controller");
  desktop.AddWindow(200, "Controller");
  window->CommandChannel->AnnouncePeer(300);
  window->CommandChannel->AnnouncePeer(200);
  timers.Advance(100);
  ASSERT_EQ(window->CommandChannel->Peers().size(), 2u);

  form.Close();
  const uint32_t bye = link::TWinMSG::EncodeCommand(link::WINMSG_CONTROL, link::CTRL_BYE);
  EXPECT_EQ(desktop.TargetsOf(bye), (std::vector<platform::WindowHandle>{200, 300}));
  EXPECT_FALSE(window->CommandChannel);
  // After closing, messages from other programs no longer reach the window.
  EXPECT_EQ(desktop.Deliver(link::WM_WINMSG, 300, link::TWinMSG::EncodeCommand(0x7FFF, 0x7FFF)), 0);
}

TEST_F(MainWindowTest, OutsideInteractiveModeCommandsAreIgnored) {
  Create();
  desktop.AddWindow(300, "Controller");
  EXPECT_EQ(desktop.Deliver(link::WM_WINMSG, 300, link::TWinMSG::EncodeCommand(0x7FFF, 0)), 0);
  timers.Advance(200);
  EXPECT_TRUE(window->CommandChannel->Peers().empty());
  EXPECT_EQ(desktop.Deliver(1234, 300, 0), 0);  // not a command message at all
}

// The objects the device checks create, in the state a running window has them.
class MainWindowWithDevices : public MainWindowTest {
 protected:
  MainWindowWithDevices() {
    waveInput.Devices.push_back({"Card"});
    const uint32_t card = mixerDevices.AddDevice("Mixer");
    mixerDevices.AddDestination(card, "Playback", VirtualMixerDevices::Controls::kBoth);
    mixerDevices.AddSource(card, 0, "PCM", VirtualMixerDevices::Controls::kBoth);
    mixerDevices.AddSource(card, 0, "Line", VirtualMixerDevices::Controls::kBoth);
    Create();
    window->Capture = std::make_unique<audio::TWaveCapture>(waveInput);
    EXPECT_EQ(window->Capture->Start(), 0);
    window->Detector = std::make_unique<audio::TSilence>();
    window->Detector->Configure(audio::smSeekSilence, 10, -38);
    window->LineMixer = std::make_unique<mixer::TCVMixer>(mixerDevices, clock, timers);
    window->LineMixer->SetActive(true);
    window->LineIds = {window->LineMixer->AddLine(0, 0, 0, 1),
                       window->LineMixer->AddLine(0, 0, 0, 2)};
  }
  ~MainWindowWithDevices() override {
    window.reset();
    mixer::FreeMixerDevices();
    settings::LinesMuted = true;
  }
  void ApplyDialog(std::function<void()> changes) {
    runDialog = [changes] {
      changes();
      return true;
    };
    settingsButton.Click();
  }
};

TEST_F(MainWindowWithDevices, ACardChangeReleasesTheCaptureAndTheDetector) {
  ApplyDialog([] { settings::CardChanged = true; });
  EXPECT_FALSE(window->Capture);
  EXPECT_FALSE(window->Detector);
  EXPECT_FALSE(waveInput.IsOpen());
  EXPECT_EQ(waveInput.OperationsOnClosedDevice, 0);
  EXPECT_TRUE(window->LineMixer);
}

TEST_F(MainWindowWithDevices, ALinesChangeReopensTheLinesAndADeviceChangeReleasesTheController) {
  ApplyDialog([] { settings::MixerLinesChanged = true; });
  ASSERT_TRUE(window->LineMixer);
  EXPECT_EQ(window->mixerStarts, 1);
  timers.Advance(40);  // the controller lets the removed lines go on its next line tick
  EXPECT_EQ(window->LineMixer->ControlledLineCount(), 0u);

  ApplyDialog([] {
    settings::MixerDeviceChanged = true;
    settings::MixerLinesChanged = true;
  });
  EXPECT_FALSE(window->LineMixer);
  EXPECT_EQ(window->mixerStarts, 1);  // the next mixer check reopens the lines
  EXPECT_FALSE(settings::MixerLinesChanged);
  EXPECT_TRUE(window->Capture);
}

TEST_F(MainWindowWithDevices, ALevelChangeIsHeardOnPlayingLinesAndOnlyStoredOnMutedOnes) {
  settings::Settings.LRControl = true;
  const size_t writesBefore = mixerDevices.writes.size();
  settings::LinesMuted = true;
  ApplyDialog([] {
    settings::Settings.Lines[0].Level = 1000;
    settings::Settings.Lines[1].Level = 2000;
    settings::MixerLevelChanged = true;
  });
  EXPECT_EQ(window->LineMixer->GetLevel(window->LineIds[0]), 1000);
  EXPECT_EQ(window->LineMixer->GetLevel(window->LineIds[1]), 2000);
  EXPECT_EQ(mixerDevices.writes.size(), writesBefore);  // a muted line stays silent

  settings::LinesMuted = false;
  ApplyDialog([] {
    settings::Settings.Lines[0].Level = 3000;
    settings::MixerLevelChanged = true;
  });
  EXPECT_EQ(mixerDevices.Volume(0, 0, 0), 3000u);
  EXPECT_EQ(mixerDevices.Volume(0, 0, 1), 2000u);
  EXPECT_FALSE(mixerDevices.Muted(0, 0, 0));
}

TEST_F(MainWindowWithDevices, ClosingReleasesEverythingAndLeavesTheLinesAsTheyAre) {
  const size_t writesBefore = mixerDevices.writes.size();
  form.Close();
  EXPECT_TRUE(form.closed);
  EXPECT_FALSE(window->Capture);
  EXPECT_FALSE(window->Detector);
  EXPECT_FALSE(window->LineMixer);
  EXPECT_FALSE(waveInput.IsOpen());
  EXPECT_EQ(mixerDevices.writes.size(), writesBefore);
}

}  // namespace
}  // namespace calvora::app
