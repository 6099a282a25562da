#include "mixer/CVFaders.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "VirtualClock.h"
#include "VirtualTimers.h"

namespace calvora::mixer {
namespace {

struct Event {
  std::string kind;
  double value;
  int64_t atMs;
};

class MixerFader : public ::testing::Test {
 protected:
  MixerFader() {
    fader.OnStart = [this](TCVFader&, double v) { events.push_back({"start", v, timers.Now()}); };
    fader.OnChange = [this](TCVFader&, double v) { events.push_back({"change", v, timers.Now()}); };
    fader.OnDone = [this](TCVFader&, double v) { events.push_back({"done", v, timers.Now()}); };
  }

  int Count(const std::string& kind) const {
    int n = 0;
    for (const auto& e : events)
      n += e.kind == kind ? 1 : 0;
    return n;
  }

  testing::VirtualClock clock;
  testing::VirtualTimers timers{clock};
  TCVFader fader{clock, timers};
  std::vector<Event> events;
};

TEST_F(MixerFader, RisesLinearlyWithElapsedTimeAndEndsExactlyOnTarget) {
  fader.Start(100, 2);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].kind, "start");
  EXPECT_EQ(events[0].value, 0);
  EXPECT_EQ(events[1].kind, "change");
  EXPECT_NEAR(events[1].value, 0, 1e-6);
  EXPECT_TRUE(fader.Active);

  timers.Advance(500);
  EXPECT_NEAR(fader.Value, 25, 0.01);
  timers.Advance(1000);
  EXPECT_NEAR(fader.Value, 75, 0.01);
  EXPECT_EQ(Count("done"), 0);
  timers.Advance(600);
  EXPECT_FALSE(fader.Active);
  EXPECT_EQ(fader.Value, 100);
  EXPECT_EQ(Count("done"), 1);
  EXPECT_EQ(events.back().kind, "done");
  EXPECT_EQ(events.back().value, 100);
  EXPECT_EQ(events[events.size() - 2].value, 100);
  EXPECT_GE(events.back().atMs, 2000);
  EXPECT_LE(events.back().atMs, 2010);
  // About one change per 10 ms in between, each no lower than the last.
  EXPECT_NEAR(Count("change"), 201, 2);
  for (size_t i = 2; i < events.size(); ++i)
    EXPECT_GE(events[i].value, events[i - 1].value);
  EXPECT_EQ(timers.ActiveTimers(), 0);
}

TEST_F(MixerFader, AFadeToTheCurrentValueEndsWithinTheCall) {
  fader.Start(0, 5);
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].kind, "start");
  EXPECT_EQ(events[1].kind, "change");
  EXPECT_EQ(events[2].kind, "done");
  for (const auto& e : events)
    EXPECT_EQ(e.value, 0);
  EXPECT_FALSE(fader.Active);
  EXPECT_EQ(timers.ActiveTimers(), 0);
}

TEST_F(MixerFader, NegativeOverlongAndNonNumericTimesJumpAtOnce) {
  for (double seconds : {-1.0, 90000.0, std::numeric_limits<double>::quiet_NaN()}) {
    fader.SetValue(0);
    events.clear();
    fader.Start(50, seconds);
    EXPECT_EQ(fader.Value, 50) << seconds;
    EXPECT_FALSE(fader.Active) << seconds;
    ASSERT_EQ(events.size(), 3u) << seconds;
    EXPECT_EQ(events[2].kind, "done");
    EXPECT_EQ(events[2].value, 50);
  }
  // A full day is still a fade.
  fader.SetValue(0);
  fader.Start(50, 86400);
  EXPECT_TRUE(fader.Active);
}

TEST_F(MixerFader, AnImmediateChangeReportsTheTargetFromItsStartEvent) {
  // The line controller's start handlers act on the value they are given: an immediate fade
  // has already arrived when it starts.
  fader.SetValue(10);
  fader.Start(50, 0);
  ASSERT_EQ(events.size(), 3u);
  for (const auto& e : events)
    EXPECT_EQ(e.value, 50) << e.kind;
  // A fade with time starts from where the value stands.
  events.clear();
  fader.Start(0, 1);
  EXPECT_EQ(events[0].kind, "start");
  EXPECT_EQ(events[0].value, 50);
}

TEST_F(MixerFader, AClockSetBackIsAbsorbedAndOneSetForwardEndsEarly) {
  fader.Start(100, 10);
  timers.Advance(5000);
  EXPECT_NEAR(fader.Value, 50, 0.01);
  clock.ShiftWallMs(-3600 * 1000);
  timers.Advance(100);
  EXPECT_NEAR(fader.Value, 50.9, 0.2);  // no jump back: it goes on from where it was
  timers.Advance(4800);
  EXPECT_TRUE(fader.Active);
  timers.Advance(200);
  EXPECT_FALSE(fader.Active);
  EXPECT_EQ(Count("done"), 1);
  EXPECT_NEAR(static_cast<double>(events.back().atMs), 10000, 20);

  events.clear();
  fader.Start(0, 10);
  timers.Advance(1000);
  clock.ShiftWallMs(60 * 1000);
  timers.Advance(10);
  EXPECT_FALSE(fader.Active);
  EXPECT_EQ(fader.Value, 0);
  EXPECT_EQ(Count("done"), 1);
}

TEST_F(MixerFader, SetValueDuringAFadeMovesItsStartingPoint) {
  fader.Start(100, 2);
  timers.Advance(1000);
  fader.SetValue(0);  // half the time is gone: the rest runs from 50 now
  timers.Advance(10);
  EXPECT_NEAR(fader.Value, 50.5, 0.1);
  EXPECT_TRUE(fader.Active);
}

TEST_F(MixerFader, DestroyingDuringAFadeRaisesNothing) {
  auto doomed = std::make_unique<TCVFader>(clock, timers);
  int done = 0;
  doomed->OnDone = [&](TCVFader&, double) { ++done; };
  doomed->Start(100, 1);
  doomed.reset();
  timers.Advance(2000);
  EXPECT_EQ(done, 0);
  EXPECT_EQ(timers.ActiveTimers(), 0);

  TCVFader silent(clock, timers);
  silent.Start(40000, 0);
  EXPECT_EQ(silent.Value, 40000);
  EXPECT_FALSE(silent.Active);
}

TEST_F(MixerFader, ANewStartReplacesTheRunningFadeFromWhereItIs) {
  fader.Start(100, 2);
  timers.Advance(1000);
  fader.Start(0, 1);
  EXPECT_NEAR(fader.StartValue(), 50, 0.01);
  timers.Advance(500);
  EXPECT_NEAR(fader.Value, 25, 0.01);
  timers.Advance(510);
  EXPECT_EQ(fader.Value, 0);
  EXPECT_EQ(Count("done"), 1);  // the replaced fade never ends on its own
  EXPECT_EQ(timers.ActiveTimers(), 0);
}

}  // namespace
}  // namespace calvora::mixer
