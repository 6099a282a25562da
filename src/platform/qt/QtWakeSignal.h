#pragma once
// The wake signal on the Qt main loop: an eventfd that Raise writes to and a socket notifier
// that runs the handler when it turns readable.
#include <memory>

#include "platform/WakeSignal.h"

class QSocketNotifier;

namespace calvora::platform::qt {

class QtWakeSignal : public WakeSignal {
 public:
  QtWakeSignal();
  ~QtWakeSignal() override;
  QtWakeSignal(const QtWakeSignal&) = delete;
  QtWakeSignal& operator=(const QtWakeSignal&) = delete;

  // False when no eventfd could be had: then nothing wakes, and the owner must poll.
  bool Usable() const { return fd_ >= 0; }

  void Raise() override;
  void SetHandler(std::function<void()> handler) override;

 private:
  void Activated();

  int fd_ = -1;
  std::unique_ptr<QSocketNotifier> notifier_;
  std::function<void()> handler_;
};

}  // namespace calvora::platform::qt
