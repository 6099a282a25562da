#pragma once
// The system clocks: a 32-bit millisecond tick that wraps, the local wall clock, and a sleep.
#include <cstdint>

namespace calvora::platform {

class Clock {
 public:
  virtual ~Clock() = default;

  // Milliseconds since an arbitrary start, cut to 32 bits: wraps to 0 after 2^32 - 1.
  virtual uint32_t TickCount() = 0;

  // The local date and time as days since 1899-12-30 00:00 (fractions for the time of
  // day), with millisecond resolution. It may jump when the user sets the clock.
  virtual double LocalNowDays() = 0;

  // Blocks the calling thread for the given milliseconds (0 or more).
  virtual void Sleep(int32_t ms) = 0;
};

}  // namespace calvora::platform
