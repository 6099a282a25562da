#pragma once
// Main-loop timers driven by virtual time: Advance moves the clock and fires every timer
// that falls due, in time order, as a real main loop would.
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "VirtualClock.h"
#include "platform/Timers.h"

namespace calvora::testing {

class VirtualTimers : public platform::Timers {
 public:
  explicit VirtualTimers(VirtualClock& clock) : clock_(clock) {}
  ~VirtualTimers() override;

  std::unique_ptr<platform::Timer> CreateTimer(int32_t intervalMs,
                                               std::function<void()> onTick) override;
  // Runs the timers due at the current virtual time, and the hook, if set.
  void ProcessPendingEvents() override;

  // Passes ms of virtual time, firing each due timer at its due moment.
  void Advance(int64_t ms);

  // Virtual milliseconds since this object was created.
  int64_t Now() const { return now_; }
  int ActiveTimers() const;
  // How many times ProcessPendingEvents was called.
  int PendingEventRuns() const { return pendingRuns_; }
  // Called by ProcessPendingEvents, for tests that deliver events "meanwhile".
  std::function<void()> onProcessPendingEvents;

  struct Entry;

 private:
  friend class VirtualTimer;
  bool FireNextDue(int64_t until);

  VirtualClock& clock_;
  int64_t now_ = 0;
  uint64_t sequence_ = 0;
  int pendingRuns_ = 0;
  std::vector<std::shared_ptr<Entry>> entries_;
};

}  // namespace calvora::testing
