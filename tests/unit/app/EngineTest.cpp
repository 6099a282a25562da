#include "app/Engine.h"

#include <gtest/gtest.h>

#include "VirtualClock.h"
#include "VirtualTimers.h"

namespace calvora::app {
namespace {

using testing::VirtualClock;
using testing::VirtualTimers;

TEST(Engine, TickCount64KeepsRisingAcrossTheWrapOfTheSystemTick) {
  VirtualClock clock;
  VirtualTimers timers(clock);
  Engine engine(clock, timers);
  clock.SetTick(0xFFFFFFF0u);
  EXPECT_EQ(engine.TickCount64(), 0xFFFFFFF0LL);
  clock.SetTick(0xFFFFFFFFu);
  EXPECT_EQ(engine.TickCount64(), 0xFFFFFFFFLL);
  clock.SetTick(5);
  EXPECT_EQ(engine.TickCount64(), (1LL << 32) + 5);
  clock.SetTick(5);  // an unchanged tick is not a wrap
  EXPECT_EQ(engine.TickCount64(), (1LL << 32) + 5);
  clock.SetTick(3);
  EXPECT_EQ(engine.TickCount64(), (2LL << 32) + 3);
}

TEST(Engine, PauseProcessesPendingEventsBeforeSleeping) {
  VirtualClock clock;
  VirtualTimers timers(clock);
  Engine engine(clock, timers);
  int64_t sleptWhenEventsRan = -1;
  timers.onProcessPendingEvents = [&] { sleptWhenEventsRan = clock.SleptMs(); };
  engine.PauseMs(10);
  EXPECT_EQ(sleptWhenEventsRan, 0);
  EXPECT_EQ(clock.SleptMs(), 10);
  engine.PauseMs(-3);  // a negative pause does not sleep
  EXPECT_EQ(clock.SleptMs(), 10);
}

}  // namespace
}  // namespace calvora::app
