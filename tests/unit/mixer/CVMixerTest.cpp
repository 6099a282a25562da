#include "mixer/CVMixer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "VirtualClock.h"
#include "VirtualMixerDevices.h"
#include "VirtualTimers.h"

namespace calvora::mixer {
namespace {

using testing::VirtualMixerDevices;
using Controls = VirtualMixerDevices::Controls;

// One sound card: "Playback" with the lines Master (its own), PCM, Line, Beep (switch only)
// and Aux (volume only). Line positions are 0..4 in that order.
class MixerController : public ::testing::Test {
 protected:
  static constexpr int32_t kMaster = 0, kPcm = 1, kLine = 2, kBeep = 3, kAux = 4;

  MixerController() {
    card = devices.AddDevice("Card");
    devices.AddDestination(card, "Playback", Controls::kBoth);
    devices.AddSource(card, 0, "PCM", Controls::kBoth);
    devices.AddSource(card, 0, "Line", Controls::kBoth);
    devices.AddSource(card, 0, "Beep", Controls::kMute);
    devices.AddSource(card, 0, "Aux", Controls::kVolume);
  }
  ~MixerController() override { FreeMixerDevices(); }

  // The device side of a line position: source index, -1 for the root's own line.
  static int32_t Source(int32_t line) { return line - 1; }
  uint32_t VolumeOf(int32_t line) { return devices.Volume(card, 0, Source(line)); }
  bool MutedAt(int32_t line) { return devices.Muted(card, 0, Source(line)); }
  void Prepare(int32_t line, uint32_t volume, bool muted) {
    devices.SetVolume(card, 0, Source(line), volume);
    devices.SetMuted(card, 0, Source(line), muted);
  }

  // The writes since the last call as readable steps, e.g. "PCM vol 40000", "PCM mute 0".
  std::vector<std::string> TakeWrites() {
    std::vector<std::string> steps;
    const char* names[] = {"Master", "PCM", "Line", "Beep", "Aux"};
    for (size_t i = seen_; i < devices.writes.size(); ++i) {
      const auto& w = devices.writes[i];
      for (int32_t line = 0; line < 5; ++line)
        if (w.controlId == devices.VolumeId(card, 0, Source(line)))
          steps.push_back(std::string(names[line]) + " vol " + std::to_string(w.value));
        else if (w.controlId == devices.MuteId(card, 0, Source(line)))
          steps.push_back(std::string(names[line]) + " mute " + std::to_string(w.value));
    }
    seen_ = devices.writes.size();
    return steps;
  }

  testing::VirtualClock clock;
  testing::VirtualTimers timers{clock};
  VirtualMixerDevices devices;
  uint32_t card = 0;

 private:
  size_t seen_ = 0;
};

TEST_F(MixerController, AddLineChecksTheAddressAndNumbersLinesFromOnePerOpening) {
  Prepare(kPcm, 12345, false);
  TCVMixer mixer(devices, clock, timers);
  EXPECT_EQ(mixer.AddLine(0, 0, 0, kPcm), -1);  // not open yet
  mixer.SetActive(true);
  EXPECT_EQ(mixer.AddLine(0, 0, 0, MixerLineCount(0, 0)), -1);
  EXPECT_EQ(mixer.AddLine(0, 0, 1, 0), -1);
  EXPECT_EQ(mixer.AddLine(0, 1, 0, 0), -1);
  EXPECT_EQ(mixer.AddLine(0, 0, 0, -1), -1);
  EXPECT_EQ(mixer.AddLine(0, 0, 0, kPcm), 1);
  EXPECT_EQ(mixer.AddLine(0, 0, 0, kAux), 2);
  EXPECT_EQ(mixer.GetLevel(1), 12345);
  EXPECT_EQ(mixer.GetLevel(99), 0);
  EXPECT_EQ(mixer.FindLine(1)->Fader->Value, 12345);
  EXPECT_FALSE(mixer.IsLineMuted(99));

  std::vector<std::string> names;
  mixer.GetLineNames(0, 0, names);
  EXPECT_EQ(names, (std::vector<std::string>{"Playback", "PCM", "Line", "Beep", "Aux"}));
  mixer.GetRootNames(0, names);
  EXPECT_EQ(names, std::vector<std::string>{"Playback"});
  mixer.GetDeviceNames(names);
  EXPECT_EQ(names, std::vector<std::string>{"Card"});

  mixer.Reset();
  EXPECT_FALSE(mixer.Active());
  mixer.GetLineNames(0, 0, names);
  EXPECT_TRUE(names.empty());
  mixer.SetActive(true);
  EXPECT_EQ(mixer.AddLine(0, 0, 0, kLine), 1);
}

TEST_F(MixerController, FadeOutOverTwoSecondsFallsEvery40MsThenMutesAndRestoresTheLevel) {
  Prepare(kPcm, 40000, false);
  Prepare(kLine, 40000, false);
  TCVMixer mixer(devices, clock, timers);
  mixer.SetActive(true);
  mixer.AddLine(0, 0, 0, kPcm);
  mixer.AddLine(0, 0, 0, kLine);
  TakeWrites();

  mixer.FadeOutGroup(0, false, 2.0);
  EXPECT_EQ(TakeWrites(), (std::vector<std::string>{"PCM vol 40000", "PCM mute 0", "Line vol 40000",
                                                    "Line mute 0"}));
  struct Timed {
    int64_t ms;
    std::string step;
  };
  std::vector<Timed> log;
  while (timers.Now() < 2200) {
    timers.Advance(10);
    for (auto& step : TakeWrites())
      log.push_back({timers.Now(), step});
  }
  // Both lines end together: level 0, mute, level back behind the switch, per line.
  ASSERT_GE(log.size(), 6u);
  std::vector<std::string> end;
  for (size_t i = log.size() - 6; i < log.size(); ++i)
    end.push_back(log[i].step);
  EXPECT_EQ(end, (std::vector<std::string>{"PCM vol 0", "PCM mute 1", "PCM vol 40000", "Line vol 0",
                                           "Line mute 1", "Line vol 40000"}));
  EXPECT_NEAR(static_cast<double>(log.back().ms), 2000, 10);
  // Before that, each line falls once every 40 ms: about 50 writes from near 40000 to near 0.
  std::vector<Timed> pcmFalls;
  for (size_t i = 0; i + 6 < log.size(); ++i)
    if (log[i].step.rfind("PCM vol ", 0) == 0)
      pcmFalls.push_back(log[i]);
  ASSERT_GE(pcmFalls.size(), 49u);
  ASSERT_LE(pcmFalls.size(), 51u);
  EXPECT_GT(std::stoul(pcmFalls.front().step.substr(8)), 38000u);
  EXPECT_LT(std::stoul(pcmFalls.back().step.substr(8)), 1000u);
  for (size_t i = 1; i < pcmFalls.size(); ++i) {
    EXPECT_EQ(pcmFalls[i].ms - pcmFalls[i - 1].ms, 40);
    EXPECT_LT(std::stoul(pcmFalls[i].step.substr(8)), std::stoul(pcmFalls[i - 1].step.substr(8)));
  }
  EXPECT_TRUE(MutedAt(kPcm));
  EXPECT_TRUE(MutedAt(kLine));
  EXPECT_EQ(VolumeOf(kPcm), 40000u);
  EXPECT_EQ(VolumeOf(kLine), 40000u);
}

TEST_F(MixerController, KeepDownLeavesFadedLinesMutedAtZero) {
  Prepare(kPcm, 40000, false);
  Prepare(kLine, 40000, false);
  TCVMixer mixer(devices, clock, timers);
  mixer.SetActive(true);
  mixer.AddLine(0, 0, 0, kPcm);
  mixer.AddLine(0, 0, 0, kLine);
  mixer.FadeOutGroup(0, true, 2.0);
  timers.Advance(2100);
  EXPECT_TRUE(MutedAt(kPcm));
  EXPECT_TRUE(MutedAt(kLine));
  EXPECT_EQ(VolumeOf(kPcm), 0u);
  EXPECT_EQ(VolumeOf(kLine), 0u);
  EXPECT_EQ(mixer.GetLevel(1), 40000);  // the stored level is kept for the way back
}

TEST_F(MixerController, AnAlreadyMutedLineEndsAtOnceWhileTheOtherFades) {
  Prepare(kPcm, 40000, true);
  Prepare(kLine, 40000, false);
  TCVMixer mixer(devices, clock, timers);
  mixer.SetActive(true);
  const auto pcm = mixer.AddLine(0, 0, 0, kPcm);
  const auto line = mixer.AddLine(0, 0, 0, kLine);
  TakeWrites();
  mixer.FadeOutGroup(0, false, 2.0);
  // The muted line opens and closes its switch within the call.
  EXPECT_EQ(TakeWrites(),
            (std::vector<std::string>{"PCM vol 40000", "PCM mute 0", "PCM vol 0", "PCM mute 1",
                                      "PCM vol 40000", "Line vol 40000", "Line mute 0"}));
  EXPECT_FALSE(mixer.FindLine(pcm)->Fader->Active);
  EXPECT_TRUE(mixer.FindLine(line)->Fader->Active);
  timers.Advance(1000);
  EXPECT_NEAR(VolumeOf(kLine), 20000, 1000);
  EXPECT_FALSE(MutedAt(kLine));
  timers.Advance(1100);
  EXPECT_TRUE(MutedAt(kLine));
}

TEST_F(MixerController, ImmediateFadeInWritesZeroUnmuteLevelUnmuteWithinTheCall) {
  Prepare(kPcm, 40000, true);
  TCVMixer mixer(devices, clock, timers);
  mixer.SetActive(true);
  const auto pcm = mixer.AddLine(0, 0, 0, kPcm);
  mixer.StoreLevel(pcm, 30000);
  TakeWrites();
  mixer.FadeInGroup(0, 0);
  EXPECT_EQ(TakeWrites(),
            (std::vector<std::string>{"PCM vol 0", "PCM mute 0", "PCM vol 30000", "PCM mute 0"}));
  EXPECT_FALSE(MutedAt(kPcm));
  EXPECT_EQ(VolumeOf(kPcm), 30000u);
}

TEST_F(MixerController, FadeInOfAMutedLineClimbsFromSilence) {
  Prepare(kPcm, 40000, true);
  TCVMixer mixer(devices, clock, timers);
  mixer.SetActive(true);
  mixer.AddLine(0, 0, 0, kPcm);
  mixer.FadeInGroup(0, 1.0);
  timers.Advance(500);
  EXPECT_NEAR(VolumeOf(kPcm), 20000, 1500);
  EXPECT_FALSE(MutedAt(kPcm));
  timers.Advance(600);
  EXPECT_EQ(VolumeOf(kPcm), 40000u);
}

TEST_F(MixerController, ImmediateFadeToOnAMutedLineUnmutesAndStoresTheLevel) {
  Prepare(kPcm, 1000, true);
  TCVMixer mixer(devices, clock, timers);
  mixer.SetActive(true);
  const auto pcm = mixer.AddLine(0, 0, 0, kPcm);
  mixer.FadeTo(pcm, 65535, 0);
  EXPECT_FALSE(MutedAt(kPcm));
  EXPECT_EQ(VolumeOf(kPcm), 65535u);
  EXPECT_EQ(mixer.GetLevel(pcm), 65535);
  mixer.FadeTo(42, 100, 0);  // an unknown id is ignored
}

TEST_F(MixerController, TheLineTimerWritesTheFadersValueCutTowardZero) {
  Prepare(kPcm, 100, false);
  TCVMixer mixer(devices, clock, timers);
  mixer.SetActive(true);
  const auto pcm = mixer.AddLine(0, 0, 0, kPcm);
  mixer.FadeTo(pcm, 101, 10.0);
  TakeWrites();
  // The value climbs from 100 to 101 over ten seconds: every write before the end is 100.
  timers.Advance(9900);
  const auto during = TakeWrites();
  EXPECT_GE(during.size(), 240u);
  for (const auto& step : during)
    EXPECT_EQ(step, "PCM vol 100");
  timers.Advance(200);
  EXPECT_EQ(TakeWrites().back(), "PCM vol 101");  // the exact level from the done handler
}

TEST_F(MixerController, FadeToStartsFromTheStoredLevelNotFromWhereTheFaderWas) {
  Prepare(kPcm, 10000, false);
  TCVMixer mixer(devices, clock, timers);
  mixer.SetActive(true);
  const auto pcm = mixer.AddLine(0, 0, 0, kPcm);  // its fader stands at the device's 10000
  mixer.StoreLevel(pcm, 40000);
  mixer.FadeTo(pcm, 60000, 1.0);
  timers.Advance(500);
  EXPECT_NEAR(VolumeOf(kPcm), 50000, 1000);
  timers.Advance(600);
  EXPECT_EQ(VolumeOf(kPcm), 60000u);
}

TEST_F(MixerController, AFadeOutDuringAFadeInFallsFromWhereTheLineHasGot) {
  Prepare(kPcm, 40000, true);
  TCVMixer mixer(devices, clock, timers);
  mixer.SetActive(true);
  mixer.AddLine(0, 0, 0, kPcm);
  mixer.FadeInGroup(0, 2.0);
  timers.Advance(1000);
  ASSERT_NEAR(VolumeOf(kPcm), 20000, 1000);
  mixer.FadeOutGroup(0, false, 1.0);
  TakeWrites();
  // The switch opens at the stored level for a moment, then the fall goes on from about half.
  timers.Advance(40);
  EXPECT_NEAR(VolumeOf(kPcm), 19200, 1000);
  timers.Advance(460);
  EXPECT_NEAR(VolumeOf(kPcm), 10000, 1000);
  timers.Advance(600);
  EXPECT_TRUE(MutedAt(kPcm));
}

TEST_F(MixerController, ARemovedLineIsDrivenUntilItsFadeEnds) {
  Prepare(kPcm, 40000, false);
  TCVMixer mixer(devices, clock, timers);
  mixer.SetActive(true);
  const auto pcm = mixer.AddLine(0, 0, 0, kPcm);
  mixer.FadeOutGroup(0, true, 1.0);
  timers.Advance(400);
  mixer.RemoveLine(pcm);
  ASSERT_NE(mixer.FindLine(pcm), nullptr);
  EXPECT_EQ(mixer.FindLine(pcm)->Group, -1);
  TakeWrites();
  mixer.FadeOutGroup(0, false, 5.0);  // no longer in group 0: untouched
  EXPECT_TRUE(TakeWrites().empty());
  timers.Advance(300);
  EXPECT_FALSE(TakeWrites().empty());  // still faded by the line timer
  timers.Advance(400);
  EXPECT_TRUE(MutedAt(kPcm));
  EXPECT_EQ(mixer.FindLine(pcm), nullptr);
  EXPECT_EQ(mixer.ControlledLineCount(), 0u);
  mixer.RemoveLine(pcm);  // ignored
}

TEST_F(MixerController, RemoveGroupTakesIdleLinesOffOnTheNextTick) {
  TCVMixer mixer(devices, clock, timers);
  mixer.SetActive(true);
  mixer.AddLine(0, 0, 0, kPcm);
  mixer.AddLine(1, 0, 0, kLine);
  mixer.AddLine(0, 0, 0, kMaster);
  mixer.RemoveGroup(0);
  EXPECT_EQ(mixer.ControlledLineCount(), 3u);
  timers.Advance(40);
  EXPECT_EQ(mixer.ControlledLineCount(), 1u);
  EXPECT_NE(mixer.FindLine(2), nullptr);
}

TEST_F(MixerController, LinesMissingAControlFadeWithWhatTheyHave) {
  Prepare(kAux, 30000, false);
  TCVMixer mixer(devices, clock, timers);
  mixer.SetActive(true);
  const auto aux = mixer.AddLine(0, 0, 0, kAux);    // volume, no switch
  const auto beep = mixer.AddLine(0, 0, 0, kBeep);  // switch, no volume
  EXPECT_EQ(mixer.GetLevel(beep), 0);
  mixer.FadeOutGroup(0, false, 0.5);
  timers.Advance(600);
  // Without a switch the line cannot be muted: it stays at volume 0.
  EXPECT_EQ(VolumeOf(kAux), 0u);
  EXPECT_FALSE(mixer.IsLineMuted(aux));
  EXPECT_TRUE(MutedAt(kBeep));
  mixer.FadeInGroup(0, 0.5);
  timers.Advance(600);
  EXPECT_EQ(VolumeOf(kAux), 30000u);
  EXPECT_FALSE(MutedAt(kBeep));
}

TEST_F(MixerController, ClosingAbandonsFadesWhereTheyAre) {
  Prepare(kPcm, 40000, false);
  TCVMixer mixer(devices, clock, timers);
  mixer.SetActive(true);
  mixer.AddLine(0, 0, 0, kPcm);
  mixer.FadeOutGroup(0, false, 2.0);
  timers.Advance(1000);
  mixer.SetActive(false);
  const auto volume = VolumeOf(kPcm);
  TakeWrites();
  timers.Advance(3000);
  EXPECT_TRUE(TakeWrites().empty());
  EXPECT_EQ(VolumeOf(kPcm), volume);
  EXPECT_FALSE(MutedAt(kPcm));
  EXPECT_EQ(timers.ActiveTimers(), 0);
  EXPECT_EQ(MixerDeviceCount(), 0);  // the shared tree went with it
}

TEST_F(MixerController, CheckDevicesReportsAChangedCountUntilReset) {
  TCVMixer mixer(devices, clock, timers);
  int raised = 0;
  mixer.OnDevicesChanged = [&](TCVMixer& sender) {
    EXPECT_EQ(&sender, &mixer);
    sender.DevicesChanged = true;
    ++raised;
  };
  mixer.CheckDevices();
  EXPECT_EQ(raised, 0);
  devices.AddDevice("USB Headset");
  mixer.CheckDevices();
  mixer.CheckDevices();
  EXPECT_EQ(raised, 2);
  EXPECT_TRUE(mixer.DevicesChanged);
  mixer.Reset();
  EXPECT_FALSE(mixer.DevicesChanged);
  mixer.CheckDevices();
  EXPECT_EQ(raised, 2);
  EXPECT_EQ(MixerDeviceCount(), 2);
}

TEST_F(MixerController, TheTreeIsSharedBetweenControllers) {
  Prepare(kPcm, 40000, false);
  TCVMixer main(devices, clock, timers);
  main.SetActive(true);
  const auto pcm = main.AddLine(0, 0, 0, kPcm);
  {
    // A second controller rebuilds the tree under the first; opened, it completes it again.
    TCVMixer dialog(devices, clock, timers);
    EXPECT_FALSE(main.IsLineMuted(pcm));
    dialog.SetActive(true);
    main.FadeOutGroup(0, true, 0);
    EXPECT_TRUE(MutedAt(kPcm));
  }
  // Its destruction freed the tree for both: the first controller's writes now do nothing.
  TakeWrites();
  main.FadeInGroup(0, 0);
  EXPECT_TRUE(TakeWrites().empty());
  EXPECT_TRUE(MutedAt(kPcm));
}

}  // namespace
}  // namespace calvora::mixer
