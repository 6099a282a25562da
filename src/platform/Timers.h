#pragma once
// Main-loop timers. Every timer fires on the main thread; handlers never overlap, but a
// handler that processes pending events lets other timers run inside it.
#include <cstdint>
#include <functional>
#include <memory>

namespace calvora::platform {

class Timer {
 public:
  virtual ~Timer() = default;
  virtual void SetEnabled(bool enabled) = 0;
  virtual bool Enabled() const = 0;
  virtual void SetInterval(int32_t ms) = 0;
  virtual int32_t Interval() const = 0;
};

class Timers {
 public:
  virtual ~Timers() = default;

  // A new timer, disabled, calling onTick every intervalMs while enabled. Destroying the
  // timer (even from inside its own handler) stops it; onTick is not called afterwards.
  virtual std::unique_ptr<Timer> CreateTimer(int32_t intervalMs, std::function<void()> onTick) = 0;

  // Runs whatever events and timers are due, then returns.
  virtual void ProcessPendingEvents() = 0;
};

}  // namespace calvora::platform
