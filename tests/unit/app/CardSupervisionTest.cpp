#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "ObservedWindow.h"
#include "meter/LedMetter.h"

namespace calvora::app {
namespace {

using link::DEV_CARD;
using link::NTF_OFFLINE;
using link::NTF_ONLINE;
using link::NTF_SILENCE;
using link::NTF_SOUND;
using ui::colors::kGreen;
using ui::colors::kRed;

constexpr int16_t kTone = 3277;  // -20 dB
constexpr int16_t kQuiet = 33;   // -60 dB, below the silence level

class CardSupervisionTest : public ObservedWindowTest<> {
 protected:
  // The window with the sound card in use and the given [Soundcard] settings.
  void Start(const std::string& soundcard, const std::string& settings = "") {
    WriteSettings("UseSoundCard=1\nUseMixer=0\n" + settings + "[Soundcard]\n" + soundcard);
    Create();
  }

  enum class Row { kTop, kBottom };
  // How many LEDs of a row of the meter are lit now, by the last colour painted on each.
  int LitLeds(Row row) const {
    std::map<int, ui::Color> shown;  // left edge -> colour
    for (const auto& fill : imgLed.rects) {
      if (fill.rect.Top == 0)
        continue;  // the whole canvas cleared
      if ((fill.rect.Top == 1) == (row == Row::kTop))
        shown[fill.rect.Left] = fill.color;
    }
    return static_cast<int>(std::count_if(shown.begin(), shown.end(), [](const auto& led) {
      return led.second == ui::colors::kLime;
    }));
  }
};

TEST_F(CardSupervisionTest, StartsOnTheDeviceOfExactlyThatNameWithTenMsBlocks) {
  struct Case {
    int rate;
    int blockBytes;
  };
  for (const Case c : {Case{48000, 1920}, Case{44100, 1764}, Case{32000, 1280}}) {
    SCOPED_TRACE(c.rate);
    window.reset();
    waveInput.Devices = {{"Line In"}, {"USB Audio"}};
    Start("Card=USB Audio\nBitrate=" + std::to_string(c.rate) + "\n");
    timers.Advance(10);
    EXPECT_TRUE(StatusIs("Online", kGreen));
    EXPECT_EQ(sgCard.text, "USB Audio");
    EXPECT_EQ(sgCard.progress, 0);
    ASSERT_TRUE(window->Capture && window->Capture->Active);
    EXPECT_EQ(waveInput.LastOpenedDevice, 1u);
    EXPECT_EQ(waveInput.LastFormat.SamplesPerSec, static_cast<uint32_t>(c.rate));
    EXPECT_EQ(window->Capture->BufferSize, c.blockBytes);
    EXPECT_EQ(waveInput.QueuedCount(), 17u);
    // A fresh detector looks for the configured silence.
    ASSERT_TRUE(window->Detector);
    EXPECT_EQ(window->Detector->Mode, audio::smSeekSilence);
    EXPECT_EQ(window->Detector->NeedTime, 10.0);
    EXPECT_EQ(window->Detector->Threshold, -38.0);
  }
}

TEST_F(CardSupervisionTest, ANameThatDiffersOnlyInLetterCaseIsNotFound) {
  waveInput.Devices = {{"USB Audio"}};
  Start("Card=usb audio\n");
  timers.Advance(2000);
  EXPECT_TRUE(StatusIs("WAIT", kRed));
  EXPECT_EQ(waveInput.OpenCalls, 0);
}

TEST_F(CardSupervisionTest, TheSoundServerStoredUnderTheOtherServersNameIsFound) {
  const struct {
    const char* stored;
    std::vector<std::string> listed;
    int opened;  // -1 for none
  } kCases[] = {
      {"PulseAudio Sound Server", {"USB Audio", "PipeWire Sound Server"}, 1},
      {"PipeWire Sound Server", {"PulseAudio Sound Server"}, 0},
      // The exact name comes first; letter case and the rest of the name still count.
      {"PulseAudio Sound Server", {"PipeWire Sound Server", "PulseAudio Sound Server"}, 1},
      {"pulseaudio Sound Server", {"PipeWire Sound Server"}, -1},
      {"PulseAudio Sound Server 2", {"PipeWire Sound Server"}, -1},
      {"PulseAudioX Sound Server", {"PipeWireX Sound Server"}, -1},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.stored);
    window.reset();
    waveInput.Devices.clear();
    for (const std::string& name : c.listed)
      waveInput.Devices.push_back({name});
    waveInput.OpenCalls = 0;
    Start(std::string("Card=") + c.stored + "\n");
    timers.Advance(10);
    if (c.opened < 0) {
      EXPECT_EQ(waveInput.OpenCalls, 0);
    } else {
      EXPECT_TRUE(StatusIs("Online", kGreen));
      EXPECT_EQ(waveInput.LastOpenedDevice, static_cast<uint32_t>(c.opened));
    }
  }
}

TEST_F(CardSupervisionTest, AnEmptyCardShowsWaitOnceThenAsksForASelection) {
  waveInput.Devices = {{"USB Audio"}};
  Start("Card=\n");
  timers.Advance(10);
  EXPECT_TRUE(StatusIs("WAIT", kRed));  // the first attempt finds no device without a name
  EXPECT_EQ(sgCard.text, "");
  timers.Advance(510);
  EXPECT_TRUE(StatusIs("SELECT", kRed));
  EXPECT_EQ(sgCard.text, "Select soundcard !");
  EXPECT_EQ(sgCard.progress, 0);
  EXPECT_EQ(waveInput.OpenCalls, 0);
}

TEST_F(CardSupervisionTest, AMissingDeviceWaitsWithARisingGaugeThenIsOfflineEvery500Ms) {
  Start("Card=USB Audio\nWait=10\n");
  timers.Advance(10);
  Connect(300);
  EXPECT_TRUE(StatusIs("WAIT", kRed));
  EXPECT_EQ(sgCard.text, "USB Audio");
  EXPECT_EQ(sgCard.progress, 0);
  // Checks every 510 ms of a 10 s wait: about 5 % each.
  std::vector<int> progress;
  for (int check = 1; check <= 19; ++check) {
    timers.Advance(510);
    progress.push_back(sgCard.progress);
    ASSERT_EQ(Status(), "WAIT") << window->NowMs;
  }
  EXPECT_EQ(progress.front(), 5);
  EXPECT_EQ(progress.back(), 96);  // 9690 ms of 10000
  EXPECT_EQ(Notifications(NTF_OFFLINE, DEV_CARD), 0);

  timers.Advance(510);  // the first check after the deadline (10 s after the first check)
  EXPECT_GT(window->NowMs, window->CardDeadline);
  EXPECT_TRUE(StatusIs("OFFLINE", kRed));
  EXPECT_EQ(sgCard.progress, 100);
  EXPECT_EQ(Notifications(NTF_OFFLINE, DEV_CARD), 1);
  timers.Advance(510 * 4);
  EXPECT_EQ(Notifications(NTF_OFFLINE, DEV_CARD), 5);
  EXPECT_EQ(sgCard.progress, 100);

  // The device arrives: the next check starts it.
  waveInput.Devices = {{"USB Audio"}};
  timers.Advance(510);
  EXPECT_TRUE(StatusIs("Online", kGreen));
  EXPECT_EQ(Notifications(NTF_ONLINE, DEV_CARD), 1);
  EXPECT_EQ(sgCard.progress, 0);
  timers.Advance(510 * 2);
  EXPECT_EQ(Notifications(NTF_OFFLINE, DEV_CARD), 5);
}

TEST_F(CardSupervisionTest, ADeviceThatCannotStartShowsErrorUntilTheDeadlineAndIsRetried) {
  // A second device of the same name would start, but the search ends at the first error.
  waveInput.Devices = {{"USB Audio"}, {"USB Audio"}};
  waveInput.Devices[0].OpenResult = platform::result::kAllocated;
  Start("Card=USB Audio\nWait=5\n");
  timers.Advance(10);
  EXPECT_TRUE(StatusIs("ERROR", kRed));
  const int opens = waveInput.OpenCalls;
  timers.Advance(4590);  // checks up to 4600 ms, before the deadline at 5010
  EXPECT_TRUE(StatusIs("ERROR", kRed));
  EXPECT_EQ(waveInput.OpenCalls, opens + 9);  // every check tries again
  timers.Advance(510);
  EXPECT_TRUE(StatusIs("OFFLINE", kRed));
  EXPECT_EQ(waveInput.OpenCalls, opens + 10);
  waveInput.Devices[0].OpenResult = platform::result::kOk;
  timers.Advance(510);
  EXPECT_TRUE(StatusIs("Online", kGreen));
  EXPECT_EQ(waveInput.LastOpenedDevice, 0u);
}

TEST_F(CardSupervisionTest, AWaitOfNoLengthShowsTheWaitRunOut) {
  Start("Card=USB Audio\nWait=0\n");
  timers.Advance(10);
  EXPECT_TRUE(StatusIs("WAIT", kRed));  // the deadline is this very tick, not yet passed
  EXPECT_EQ(sgCard.progress, 100);
  timers.Advance(510);
  EXPECT_TRUE(StatusIs("OFFLINE", kRed));
  EXPECT_EQ(sgCard.progress, 100);
}

TEST_F(CardSupervisionTest, EveryBlockReachesTheMeterTheDetectorAndEachPeer) {
  waveInput.Devices = {{"USB Audio"}};
  Start("Card=USB Audio\n");
  timers.Advance(10);
  Connect(300);
  Connect(200);
  desktop.sent.clear();
  const size_t drawnBefore = imgLed.rects.size();
  Blocks(5, kTone, kQuiet);
  for (platform::WindowHandle peer : {200, 300}) {
    const auto blocks = AudioTo(peer);
    ASSERT_EQ(blocks.size(), 5u) << peer;
    const auto header = link::AudioBlockHeader::Read(blocks.back());
    ASSERT_TRUE(header);
    EXPECT_EQ(header->SampleRate, 48000);
    EXPECT_EQ(header->Channels, 2);
    EXPECT_EQ(header->BitsPerSample, 16);
    EXPECT_NEAR(header->LeftLevel, -20.0, 0.01);
    EXPECT_NEAR(header->RightLevel, -59.9, 0.1);
    // The samples follow exactly as captured.
    const auto frames = testing::VirtualWaveInput::Frames(480, kTone, kQuiet);
    ASSERT_EQ(blocks.back().size(), 22 + frames.size());
    EXPECT_TRUE(std::equal(frames.begin(), frames.end(), blocks.back().begin() + 22,
                           [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; }));
  }
  EXPECT_GT(imgLed.rects.size(), drawnBefore);  // the meter lit up
  // Left on the top row, right on the bottom one: -20 dB lights -24 to -19 dB, -60 dB nothing.
  EXPECT_EQ(LitLeds(Row::kTop), 6);
  EXPECT_EQ(LitLeds(Row::kBottom), 0);
  EXPECT_NEAR(window->Detector->LastLevel, -20.0, 0.01);
}

TEST_F(CardSupervisionTest, BlocksReturnedOnTheMainThreadGoOutAtOnceWithoutATick) {
  waveInput.ReturnsOnMainThread = true;
  waveInput.Devices = {{"USB Audio"}};
  Start("Card=USB Audio\n");
  timers.Advance(10);
  ASSERT_TRUE(window->Capture && window->Capture->Active);
  Connect(300);
  desktop.sent.clear();
  // Each block the device returns is followed by its ready call, and that alone sends it on:
  // no timer runs in between.
  for (int i = 1; i <= 3; ++i) {
    ASSERT_TRUE(waveInput.FillOldest(testing::VirtualWaveInput::Frames(480, kTone, kQuiet)));
    EXPECT_EQ(AudioTo(300).size(), static_cast<size_t>(i - 1));
    ASSERT_TRUE(waveInput.TellReady());
    EXPECT_EQ(AudioTo(300).size(), static_cast<size_t>(i));
    EXPECT_EQ(waveInput.QueuedCount(), 17u);  // the queue is topped up at once too
  }
  EXPECT_NEAR(window->Detector->LastLevel, -20.0, 0.01);
  // Two blocks returned in one go: both go out, oldest first.
  waveInput.FillOldest(testing::VirtualWaveInput::Frames(480, kTone, kQuiet));
  waveInput.FillOldest(testing::VirtualWaveInput::Frames(480, kQuiet, kTone));
  ASSERT_TRUE(waveInput.TellReady());
  const auto blocks = AudioTo(300);
  ASSERT_EQ(blocks.size(), 5u);
  EXPECT_NEAR(link::AudioBlockHeader::Read(blocks[4])->RightLevel, -20.0, 0.01);
  // A device that fails between two checks starts its wait at the ready call that found it,
  // not at the last check; the owner stops and closes the device from inside that call.
  const int64_t lastDelivery = window->NowMs;
  clock.Advance(300);  // no timer runs: the clock alone moves on
  waveInput.PrepareResult = platform::result::kNoDriver;
  waveInput.FillOldest(testing::VirtualWaveInput::Frames(480, kTone, kTone));
  ASSERT_TRUE(waveInput.TellReady());
  EXPECT_FALSE(window->Capture->Active);
  EXPECT_FALSE(waveInput.IsOpen());
  EXPECT_EQ(window->CardWaitStart, lastDelivery + 300);
  EXPECT_EQ(AudioTo(300).size(), 6u);
  // A closed device has nothing more to say.
  EXPECT_FALSE(waveInput.TellReady());
}

TEST_F(CardSupervisionTest, SilenceAndSoundBackAreShownAndReported) {
  waveInput.Devices = {{"USB Audio"}};
  Start("Card=USB Audio\nSilenceTime=1\nRestoreTime=0.5\nSilenceLevel=-40\n");
  timers.Advance(10);
  Connect(300);
  Blocks(95, kQuiet, kQuiet);
  EXPECT_TRUE(StatusIs("Online", kGreen));
  EXPECT_EQ(Notifications(NTF_SILENCE, 0), 0);
  Blocks(5, kQuiet, kQuiet);
  EXPECT_TRUE(StatusIs("Silence", kRed));
  EXPECT_EQ(Notifications(NTF_SILENCE, 0), 1);
  EXPECT_EQ(window->Detector->Mode, audio::smSeekSound);
  EXPECT_EQ(window->Detector->NeedTime, 0.5);

  Blocks(45, kTone, kTone);
  EXPECT_EQ(Notifications(NTF_SOUND, 0), 0);
  Blocks(5, kTone, kTone);
  EXPECT_TRUE(StatusIs("Online", kGreen));
  EXPECT_EQ(Notifications(NTF_SOUND, 0), 1);
  EXPECT_EQ(window->Detector->Mode, audio::smSeekSilence);
  EXPECT_EQ(window->Detector->NeedTime, 1.0);
}

TEST_F(CardSupervisionTest, ASilenceTimeOfZeroLeavesTheDetectorOff) {
  waveInput.Devices = {{"USB Audio"}};
  Start("Card=USB Audio\nSilenceTime=0\n");
  timers.Advance(10);
  Blocks(300, 0, 0);
  ASSERT_TRUE(window->Detector);
  EXPECT_EQ(window->Detector->Mode, audio::smOff);
  EXPECT_TRUE(StatusIs("Online", kGreen));
}

TEST_F(CardSupervisionTest, ARestoreTimeOfZeroKeepsSilenceUntilTheCaptureRestarts) {
  waveInput.Devices = {{"USB Audio"}};
  Start("Card=USB Audio\nSilenceTime=0.5\nRestoreTime=0\n");
  timers.Advance(10);
  Blocks(50, 0, 0);
  EXPECT_TRUE(StatusIs("Silence", kRed));
  Blocks(300, kTone, kTone);
  EXPECT_TRUE(StatusIs("Silence", kRed));
  EXPECT_EQ(window->Detector->Mode, audio::smOff);
}

TEST_F(CardSupervisionTest, ACaptureErrorStopsItAndStartsANewWait) {
  waveInput.Devices = {{"USB Audio"}};
  Start("Card=USB Audio\nWait=2\n");
  timers.Advance(3000);
  Blocks(3, kTone, kTone);
  ASSERT_TRUE(StatusIs("Online", kGreen));
  const size_t rectsBefore = imgLed.rects.size();

  // The device goes away: its blocks fail, the capture reports it.
  waveInput.Devices.clear();
  waveInput.PrepareResult = platform::result::kNoDriver;
  Blocks(1, kTone, kTone);
  const int64_t errorAt = window->NowMs;
  EXPECT_FALSE(window->Capture->Active);
  EXPECT_FALSE(waveInput.IsOpen());
  EXPECT_TRUE(StatusIs("Online", kGreen));  // the word waits for the next check
  EXPECT_EQ(window->CardWaitStart, errorAt);
  EXPECT_EQ(window->CardDeadline, errorAt + 2000);
  EXPECT_GT(imgLed.rects.size(), rectsBefore);  // the meter was cleared

  timers.Advance(510);
  EXPECT_TRUE(StatusIs("WAIT", kRed));
  EXPECT_FALSE(window->Detector);  // a restart begins by looking for silence afresh
  timers.Advance(2040);
  EXPECT_TRUE(StatusIs("OFFLINE", kRed));

  waveInput.Devices = {{"USB Audio"}};
  waveInput.PrepareResult = platform::result::kOk;
  timers.Advance(510);
  EXPECT_TRUE(StatusIs("Online", kGreen));
  Blocks(3, kTone, kTone);
  EXPECT_TRUE(window->Capture->Active);
}

TEST_F(CardSupervisionTest, SwitchingTheCardOffWhileCapturingClearsTheMeterTextAndPanel) {
  waveInput.Devices = {{"USB Audio"}};
  Start("Card=USB Audio\n");
  timers.Advance(10);
  Blocks(3, kTone, kTone);
  meter::SetLedStyle(0, imgLed, 2);
  imgLed.rects.clear();
  settings::Settings.UseSoundCard = false;
  timers.Advance(510);
  EXPECT_FALSE(window->Capture);
  EXPECT_FALSE(waveInput.IsOpen());
  EXPECT_EQ(labCard.text, "");
  EXPECT_EQ(sgCard.progress, 0);
  EXPECT_FALSE(panCard.Visible());
  EXPECT_EQ(form.clientHeight, 37);
  EXPECT_EQ(meter::LedStyle(0), 0);
  ASSERT_FALSE(imgLed.rects.empty());
  EXPECT_EQ(imgLed.rects.front().color, ui::colors::kBlack);
  EXPECT_TRUE(window->Detector);  // left as it was
}

TEST_F(CardSupervisionTest, ACardChangeFromTheDialogStartsTheNewCardWithANewWait) {
  waveInput.Devices = {{"Line In"}, {"USB Audio"}};
  Start("Card=Line In\n");
  timers.Advance(10);
  ASSERT_EQ(waveInput.LastOpenedDevice, 0u);
  runDialog = [] {
    settings::Settings.Card = "USB Audio";
    settings::CardChanged = true;
    return true;
  };
  timers.Advance(3000);
  settingsButton.Click();
  EXPECT_FALSE(window->Capture);
  timers.Advance(510);
  EXPECT_TRUE(StatusIs("Online", kGreen));
  EXPECT_EQ(waveInput.LastOpenedDevice, 1u);
  // The wait began at the check that created the new capture, after the dialog.
  EXPECT_GT(window->CardWaitStart, 3010);
  EXPECT_EQ(window->CardDeadline, window->CardWaitStart + 10000);
}

TEST_F(CardSupervisionTest, ClicksOnTheMeterCycleThroughItsFourScales) {
  Start("Card=USB Audio\n");
  std::vector<int> styles;
  for (int i = 0; i < 5; ++i) {
    imgLed.OnClick();
    styles.push_back(meter::LedStyle(0));
  }
  EXPECT_EQ(styles, (std::vector<int>{1, 2, 3, 0, 1}));
  window.reset();
  EXPECT_FALSE(imgLed.OnClick);  // the window no longer listens
}

}  // namespace
}  // namespace calvora::app
