#pragma once
// Timers on the calling thread's message loop: thread timers (SetTimer without a window),
// whose WM_TIMER messages the loop dispatches to the timer's handler. A handler is not
// entered again while it runs (a handler that processes pending events lets the other
// timers run, not itself), and a timer destroyed inside its own handler is never called
// again.
#include "platform/Timers.h"

namespace calvora::platform::win32 {

class Win32Timers : public Timers {
 public:
  std::unique_ptr<Timer> CreateTimer(int32_t intervalMs, std::function<void()> onTick) override;
  // Dispatches every message waiting for this thread; a quit request is left for the loop.
  void ProcessPendingEvents() override;
};

}  // namespace calvora::platform::win32
