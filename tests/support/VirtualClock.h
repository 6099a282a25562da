#pragma once
// A clock under the test's control: the tick and the wall clock move only when told.
#include <cstdint>
#include <functional>

#include "platform/Clock.h"

namespace calvora::testing {

class VirtualClock : public platform::Clock {
 public:
  uint32_t TickCount() override { return tick_; }
  double LocalNowDays() override { return wallDays_; }
  // A sleep passes virtual time (without running timers).
  void Sleep(int32_t ms) override {
    sleeps_ += ms;
    Advance(ms);
  }

  // Moves both clocks forward together.
  void Advance(int64_t ms) {
    tick_ = static_cast<uint32_t>(tick_ + static_cast<uint64_t>(ms));
    wallDays_ += static_cast<double>(ms) / 86400000.0;
  }
  void SetTick(uint32_t tick) { tick_ = tick; }
  // Sets the wall clock alone, as a user changing the system time does.
  void ShiftWallMs(int64_t ms) { wallDays_ += static_cast<double>(ms) / 86400000.0; }
  void SetWallDays(double days) { wallDays_ = days; }

  int64_t SleptMs() const { return sleeps_; }

 private:
  uint32_t tick_ = 1000;
  double wallDays_ = 46000.5;  // a day in 2025, at noon
  int64_t sleeps_ = 0;
};

}  // namespace calvora::testing
