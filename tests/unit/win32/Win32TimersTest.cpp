#include "platform/win32/Win32Timers.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>

namespace calvora::platform::win32 {
namespace {

// Runs the message loop for a while.
void RunFor(Win32Timers& timers, std::chrono::milliseconds time) {
  const auto end = std::chrono::steady_clock::now() + time;
  while (std::chrono::steady_clock::now() < end) {
    timers.ProcessPendingEvents();
    Sleep(2);
  }
}

TEST(Win32Timers, ATimerTicksOnlyWhileEnabled) {
  Win32Timers timers;
  int ticks = 0;
  const std::unique_ptr<Timer> timer = timers.CreateTimer(10, [&] { ++ticks; });
  EXPECT_FALSE(timer->Enabled());
  RunFor(timers, std::chrono::milliseconds(100));
  EXPECT_EQ(ticks, 0);

  timer->SetEnabled(true);
  EXPECT_TRUE(timer->Enabled());
  RunFor(timers, std::chrono::milliseconds(300));
  EXPECT_GE(ticks, 5);  // a lower bound only: the machine may be busy

  timer->SetEnabled(false);
  timers.ProcessPendingEvents();
  const int stopped = ticks;
  RunFor(timers, std::chrono::milliseconds(100));
  EXPECT_EQ(ticks, stopped);

  timer->SetInterval(40);
  EXPECT_EQ(timer->Interval(), 40);
  EXPECT_FALSE(timer->Enabled());
}

TEST(Win32Timers, ATimerDestroyedInItsHandlerIsNeverCalledAgainAndOthersRunOn) {
  Win32Timers timers;
  int ownTicks = 0;
  int otherTicks = 0;
  std::unique_ptr<Timer> once;
  once = timers.CreateTimer(10, [&] {
    ++ownTicks;
    once.reset();
  });
  const std::unique_ptr<Timer> other = timers.CreateTimer(10, [&] { ++otherTicks; });
  once->SetEnabled(true);
  other->SetEnabled(true);
  RunFor(timers, std::chrono::milliseconds(200));
  EXPECT_EQ(ownTicks, 1);
  EXPECT_EQ(once, nullptr);
  EXPECT_GE(otherTicks, 3);
}

TEST(Win32Timers, AHandlerThatProcessesEventsLetsOtherTimersRunButNotItself) {
  Win32Timers timers;
  int depth = 0;
  int deepest = 0;
  int otherTicks = 0;
  int otherInside = 0;
  std::unique_ptr<Timer> busy;
  busy = timers.CreateTimer(10, [&] {
    ++depth;
    deepest = std::max(deepest, depth);
    const int before = otherTicks;
    RunFor(timers, std::chrono::milliseconds(60));
    otherInside += otherTicks - before;
    --depth;
  });
  const std::unique_ptr<Timer> other = timers.CreateTimer(10, [&] { ++otherTicks; });
  busy->SetEnabled(true);
  other->SetEnabled(true);
  RunFor(timers, std::chrono::milliseconds(200));
  busy.reset();
  EXPECT_EQ(deepest, 1);
  EXPECT_GT(otherInside, 0);
}

}  // namespace
}  // namespace calvora::platform::win32
