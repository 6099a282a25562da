#include <gtest/gtest.h>

#include "ObservedWindow.h"

namespace calvora::app {
namespace {

using link::CMD_MUTE;
using link::CMD_RUN;
using link::CMD_STOP;
using link::CMD_UNMUTE;
using link::CTRL_HELLO;
using link::CTRL_IDENTIFY;
using link::WINMSG_CONTROL;
using ui::colors::kGreen;
using ui::colors::kRed;

constexpr int16_t kTone = 3277;
constexpr int16_t kQuiet = 33;  // -60 dB, below the silence level

// A wave input that notes, when the device is closed, whether the detector still exists.
class ClosingOrderWaveInput : public testing::VirtualWaveInput {
 public:
  std::function<void()> onClose;
  platform::Result Close(platform::WaveInHandle handle) override {
    if (onClose)
      onClose();
    return VirtualWaveInput::Close(handle);
  }
};

class InteractiveModeTest : public ObservedWindowTest<ClosingOrderWaveInput> {
 protected:
  // Interactive mode with the sound card "USB Audio" present and one controller connected.
  void Start(const std::string& settings = "PID=12\n", const std::string& soundcard = "") {
    waveInput.Devices = {{"USB Audio"}};
    WriteSettings("SourceMode=1\nUseSoundCard=1\nUseMixer=0\n" + settings +
                  "[Soundcard]\nCard=USB Audio\nWait=10\n" + soundcard);
    Create();
    desktop.AddWindow(300, "Controller");
    Command(WINMSG_CONTROL, CTRL_HELLO);
    timers.Advance(link::TWinMSG::kScanIntervalMs);
  }
  // A line controller, as the mixer check creates it.
  void WithLineController() {
    window->LineMixer = std::make_unique<mixer::TCVMixer>(mixerDevices, clock, timers);
  }
  using Mutes = std::vector<std::pair<bool, bool>>;
};

TEST_F(InteractiveModeTest, IdentifyAnswersTheProgramIdAndOutsideInteractiveModeNothing) {
  Start("PID=12\n");
  EXPECT_EQ(Command(WINMSG_CONTROL, CTRL_IDENTIFY), 12);
  ASSERT_EQ(window->CommandChannel->Peers().size(), 1u);  // the hello was taken
  // Only identify is answered with the ID: a hello and a goodbye get 0.
  desktop.AddWindow(301, "Controller");
  EXPECT_EQ(Command(WINMSG_CONTROL, CTRL_HELLO, 301), 0);
  timers.Advance(link::TWinMSG::kScanIntervalMs);
  ASSERT_EQ(window->CommandChannel->Peers().size(), 2u);
  EXPECT_EQ(Command(WINMSG_CONTROL, link::CTRL_BYE, 301), 0);
  EXPECT_EQ(window->CommandChannel->Peers().size(), 1u);
  window.reset();
  Start("PID=-2\n");
  EXPECT_EQ(Command(WINMSG_CONTROL, CTRL_IDENTIFY), -2);  // sign-extended

  window.reset();
  waveInput.Devices = {{"USB Audio"}};
  WriteSettings("SourceMode=0\nPID=12\nUseSoundCard=1\n[Soundcard]\nCard=USB Audio\n");
  Create();
  desktop.AddWindow(301, "Controller");
  EXPECT_EQ(Command(WINMSG_CONTROL, CTRL_HELLO, 301), 0);
  EXPECT_EQ(Command(WINMSG_CONTROL, CTRL_IDENTIFY, 301), 0);
  timers.Advance(200);
  EXPECT_TRUE(window->CommandChannel->Peers().empty());
  Command(CMD_STOP, 3, 301);
  EXPECT_TRUE(window->WorkTimerEnabled());
  EXPECT_TRUE(StatusIs("Online", kGreen));
}

TEST_F(InteractiveModeTest, NothingRunsUntilTheStartAndAStopHaltsTheCapture) {
  Start();
  timers.Advance(2000);
  EXPECT_FALSE(window->Capture);
  EXPECT_EQ(Status(), "STOP");
  EXPECT_FALSE(settings::Settings.SetLevel);
  EXPECT_TRUE(window->MuteWanted);

  Command(CMD_RUN, 0);
  EXPECT_TRUE(window->WorkTimerEnabled());
  timers.Advance(10);  // the first tick runs the check
  EXPECT_TRUE(StatusIs("Online", kGreen));
  EXPECT_EQ(Notifications(link::NTF_ONLINE, link::DEV_CARD), 1);
  Blocks(10, kTone, kTone);
  EXPECT_EQ(AudioTo(300).size(), 10u);

  imgLed.rects.clear();
  Command(CMD_STOP, 0);
  EXPECT_FALSE(window->WorkTimerEnabled());
  EXPECT_TRUE(StatusIs("STOP", kRed));
  EXPECT_FALSE(waveInput.IsOpen());
  EXPECT_FALSE(imgLed.rects.empty());  // the meter was cleared
  // The capture object and the detector stay for the next start.
  EXPECT_TRUE(window->Capture);
  EXPECT_TRUE(window->Detector);
  Blocks(10, kTone, kTone);
  EXPECT_EQ(AudioTo(300).size(), 10u);
  EXPECT_EQ(window->muteCalls, Mutes{});
  EXPECT_TRUE(window->MuteWanted);  // unchanged without a line controller

  // A start after a stop of more than one check period restarts the capture at once.
  timers.Advance(1000);
  Command(CMD_RUN, 0);
  timers.Advance(10);
  EXPECT_TRUE(StatusIs("Online", kGreen));
  Blocks(2, kTone, kTone);
  EXPECT_EQ(AudioTo(300).size(), 12u);
}

TEST_F(InteractiveModeTest, AStopWithMuteAndAStartWithRestoreMoveTheLines) {
  Start();
  WithLineController();
  // Only a start with 2 restores and only a stop with 3 mutes.
  for (const uint16_t argument : std::initializer_list<uint16_t>{0, 1, 3, 0xFFFF}) {
    Command(CMD_RUN, argument);
    EXPECT_TRUE(window->MuteWanted) << argument;
  }
  for (const uint16_t argument : std::initializer_list<uint16_t>{0, 1, 2, 0xFFFF})
    Command(CMD_STOP, argument);
  EXPECT_EQ(window->muteCalls, Mutes{});
  Command(CMD_RUN, 0);
  Command(CMD_STOP, 3);
  EXPECT_EQ(window->muteCalls, (Mutes{{true, false}}));
  EXPECT_TRUE(window->MuteWanted);
  Command(CMD_RUN, 2);
  EXPECT_EQ(window->muteCalls, (Mutes{{true, false}, {false, false}}));
  EXPECT_FALSE(window->MuteWanted);
  EXPECT_TRUE(window->WorkTimerEnabled());

  // A plain stop leaves the lines alone but wants them muted when they are reopened.
  Command(CMD_STOP, 1);
  EXPECT_EQ(window->muteCalls.size(), 2u);
  EXPECT_TRUE(window->MuteWanted);
}

TEST_F(InteractiveModeTest, MuteAndRestoreWorkWhileStoppedAndWithoutAController) {
  Start();
  Command(CMD_UNMUTE, 0);
  EXPECT_FALSE(window->MuteWanted);
  Command(CMD_RUN, 2);
  EXPECT_FALSE(window->MuteWanted);
  Command(CMD_STOP, 3);  // no controller: nothing to mute, the wish stays
  EXPECT_FALSE(window->MuteWanted);
  EXPECT_EQ(window->muteCalls, Mutes{});
  Command(CMD_MUTE, 0);
  EXPECT_TRUE(window->MuteWanted);

  WithLineController();
  Command(CMD_UNMUTE, 7);
  Command(CMD_MUTE, 0);
  EXPECT_EQ(window->muteCalls, (Mutes{{false, false}, {true, false}}));
  EXPECT_TRUE(window->MuteWanted);
  EXPECT_FALSE(window->WorkTimerEnabled());
  Command(9, 0);  // not a command: ignored
  EXPECT_EQ(window->muteCalls.size(), 2u);
  EXPECT_TRUE(StatusIs("STOP", kRed));
}

// A peer that joins in the middle of a silence learns it by asking: the notifications only
// tell the changes it was there for.
TEST_F(InteractiveModeTest, TheVerdictQueryAnswersWhatTheWorkAndTheDetectorKnowNow) {
  using link::CMD_VERDICT;
  Start("PID=12\n", "SilenceTime=1\nRestoreTime=0.5\nSilenceLevel=-40\n");
  EXPECT_EQ(Command(CMD_VERDICT, 0), link::VERDICT_NOT_STARTED);
  Command(CMD_RUN, 0);
  EXPECT_EQ(Command(CMD_VERDICT, 0), link::VERDICT_NO_CAPTURE);  // before the first check
  timers.Advance(10);
  EXPECT_EQ(Command(CMD_VERDICT, 0), link::VERDICT_SOUND);
  Blocks(100, kQuiet, kQuiet);
  ASSERT_EQ(Notifications(link::NTF_SILENCE, 0), 1);
  EXPECT_EQ(Command(CMD_VERDICT, 0), link::VERDICT_SILENCE);
  // Asked by a window that is no peer, and with any argument, the answer is the same; the
  // question changes nothing.
  desktop.AddWindow(301, "Other");
  EXPECT_EQ(Command(CMD_VERDICT, 7, 301), link::VERDICT_SILENCE);
  EXPECT_TRUE(StatusIs("Silence", kRed));
  EXPECT_EQ(window->muteCalls, Mutes{});
  Blocks(50, kTone, kTone);
  ASSERT_EQ(Notifications(link::NTF_SOUND, 0), 1);
  EXPECT_EQ(Command(CMD_VERDICT, 0), link::VERDICT_SOUND);

  // Silence again, then the card fails: the answer is no capture, and the capture that starts
  // again looks for silence afresh, so the air is sound until a new verdict.
  Blocks(100, kQuiet, kQuiet);
  ASSERT_EQ(Command(CMD_VERDICT, 0), link::VERDICT_SILENCE);
  window->Capture->Stop();  // as a device error stops it
  EXPECT_EQ(Command(CMD_VERDICT, 0), link::VERDICT_NO_CAPTURE);
  timers.Advance(500);
  ASSERT_TRUE(window->Capture->Active);
  EXPECT_EQ(Command(CMD_VERDICT, 0), link::VERDICT_SOUND);
  Blocks(100, kQuiet, kQuiet);
  EXPECT_EQ(Command(CMD_VERDICT, 0), link::VERDICT_SILENCE);
  Command(CMD_STOP, 0);
  EXPECT_EQ(Command(CMD_VERDICT, 0), link::VERDICT_NOT_STARTED);

  // With a silence time of 0 no silence is looked for: the card captures, but that is no
  // sound to vouch for.
  window.reset();
  Start("PID=12\n", "SilenceTime=0\n");
  Command(CMD_RUN, 0);
  timers.Advance(10);
  ASSERT_TRUE(window->Capture && window->Capture->Active);
  EXPECT_EQ(Command(CMD_VERDICT, 0), link::VERDICT_NO_DETECTION);

  // Outside interactive mode nothing is answered, as for every command.
  window.reset();
  WriteSettings("SourceMode=0\nUseSoundCard=1\n[Soundcard]\nCard=USB Audio\n");
  Create();
  timers.Advance(10);
  EXPECT_EQ(Command(CMD_VERDICT, 0), 0);
}

TEST_F(InteractiveModeTest, AStartLongAfterAStopShowsOfflineAtOnceWhenTheDeviceIsMissing) {
  Start();
  Command(CMD_RUN, 0);
  timers.Advance(10);
  ASSERT_TRUE(StatusIs("Online", kGreen));
  Command(CMD_STOP, 0);
  timers.Advance(60000);
  waveInput.Devices.clear();
  Command(CMD_RUN, 0);
  timers.Advance(10);
  EXPECT_TRUE(StatusIs("OFFLINE", kRed));
  EXPECT_EQ(sgCard.progress, 100);
  EXPECT_EQ(Notifications(link::NTF_OFFLINE, link::DEV_CARD), 1);
}

TEST_F(InteractiveModeTest, AnswerNoToTheExitQuestionKeepsTheWorkRunning) {
  Start();
  Command(CMD_RUN, 0);
  timers.Advance(10);
  msg.answers = {false};
  form.Close();
  EXPECT_FALSE(form.closed);
  EXPECT_TRUE(window->WorkTimerEnabled());
  Blocks(5, kTone, kTone);
  EXPECT_EQ(AudioTo(300).size(), 5u);
  EXPECT_TRUE(waveInput.IsOpen());
}

TEST_F(InteractiveModeTest, ACommandWhileClosingChangesNothing) {
  Start();
  Command(CMD_RUN, 0);
  timers.Advance(10);
  WithLineController();
  msg.answers = {true};
  // The controller keeps sending while the window closes: in the pause and while it says
  // goodbye.
  timers.onProcessPendingEvents = [&] {
    Command(CMD_RUN, 2);
    Command(CMD_STOP, 3);
  };
  const uint32_t bye = link::TWinMSG::EncodeCommand(WINMSG_CONTROL, link::CTRL_BYE);
  desktop.onSend = [&](const testing::VirtualDesktop::Sent& sent) {
    if (sent.lParam == bye) {
      Command(CMD_RUN, 2);
      Command(CMD_MUTE, 0);
    }
    return 0;
  };
  const bool muteWanted = window->MuteWanted;
  form.Close();
  ASSERT_TRUE(form.closed);
  EXPECT_FALSE(window->WorkTimerEnabled());
  EXPECT_EQ(window->muteCalls, Mutes{});
  EXPECT_EQ(window->MuteWanted, muteWanted);
  EXPECT_EQ(labCard.text, "Online");
  timers.onProcessPendingEvents = nullptr;
  timers.Advance(2000);
  EXPECT_FALSE(window->Capture);  // no check ran again after the release
  EXPECT_FALSE(waveInput.IsOpen());
}

TEST_F(InteractiveModeTest, ClosingReleasesTheDetectorBeforeTheCaptureAndTheFaderLast) {
  Start();
  Command(CMD_RUN, 0);
  timers.Advance(10);
  msg.answers = {true};
  bool detectorGoneAtCaptureRelease = false;
  waveInput.onClose = [&] { detectorGoneAtCaptureRelease = !window->Detector; };
  bool faderThereAtGoodbye = false;
  const uint32_t bye = link::TWinMSG::EncodeCommand(WINMSG_CONTROL, link::CTRL_BYE);
  desktop.onSend = [&](const testing::VirtualDesktop::Sent& sent) {
    if (sent.lParam == bye)
      faderThereAtGoodbye = window->LevelFader != nullptr;
    return 0;
  };
  form.Close();
  ASSERT_TRUE(form.closed);
  EXPECT_TRUE(detectorGoneAtCaptureRelease);
  EXPECT_TRUE(faderThereAtGoodbye);
  EXPECT_EQ(desktop.TargetsOf(bye), std::vector<platform::WindowHandle>{300});
  EXPECT_FALSE(window->LevelFader);
}

}  // namespace
}  // namespace calvora::app
