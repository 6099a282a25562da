#pragma once
// The program's millisecond clock, which keeps rising across the wrap of the 32-bit system
// tick, and a pause that keeps the window responsive.
#include <cstdint>

#include "platform/Clock.h"
#include "platform/Timers.h"

namespace calvora::app {

class Engine {
 public:
  Engine(platform::Clock& clock, platform::Timers& timers) : clock_(clock), timers_(timers) {}

  // Milliseconds; counts every time the system tick went backwards as one wrap of 2^32.
  // Must be read at least once per wrap period (about 49.7 days) to see every wrap.
  int64_t TickCount64();

  // Lets the program process pending events, then sleeps ms (0 or more) milliseconds.
  void PauseMs(int32_t ms);

 private:
  platform::Clock& clock_;
  platform::Timers& timers_;
  uint32_t LastTick = 0;
  uint32_t Wraps = 0;
};

}  // namespace calvora::app
