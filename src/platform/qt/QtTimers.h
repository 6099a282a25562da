#pragma once
#include "platform/Timers.h"

namespace calvora::platform::qt {

// Timers on the Qt main loop (QTimer), and QCoreApplication::processEvents.
class QtTimers : public Timers {
 public:
  std::unique_ptr<Timer> CreateTimer(int32_t intervalMs, std::function<void()> onTick) override;
  void ProcessPendingEvents() override;
};

}  // namespace calvora::platform::qt
