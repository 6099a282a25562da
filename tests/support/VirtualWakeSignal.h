#pragma once
// A wake signal the test delivers by hand: Raise counts, Deliver runs the handler once if
// anything was raised since the last delivery, as the main loop would.
#include <atomic>
#include <functional>

#include "platform/WakeSignal.h"

namespace calvora::testing {

class VirtualWakeSignal : public platform::WakeSignal {
 public:
  void Raise() override {
    raises.fetch_add(1);
    pending_.store(true);
  }
  void SetHandler(std::function<void()> handler) override { handler_ = std::move(handler); }

  // Runs the handler for the raises so far; false when none was pending.
  bool Deliver() {
    if (!pending_.exchange(false))
      return false;
    ++deliveries;
    const std::function<void()> handler = handler_;
    if (handler)
      handler();
    return true;
  }
  bool HasHandler() const { return static_cast<bool>(handler_); }

  std::atomic<int> raises{0};
  int deliveries = 0;

 private:
  std::atomic<bool> pending_{false};
  std::function<void()> handler_;
};

}  // namespace calvora::testing
