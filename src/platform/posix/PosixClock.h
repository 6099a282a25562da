#pragma once
#include "platform/Clock.h"

namespace calvora::platform::posix {

// CLOCK_MONOTONIC milliseconds cut to 32 bits, the local wall clock, nanosleep.
class PosixClock : public Clock {
 public:
  uint32_t TickCount() override;
  double LocalNowDays() override;
  void Sleep(int32_t ms) override;
};

}  // namespace calvora::platform::posix
