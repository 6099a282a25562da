#pragma once
// Runs a session-bus desktop on the Qt main loop: the bus connection is watched with socket
// notifiers and its deadlines with a single-shot timer, so calls to the window are answered
// on the main thread between other events, with no extra thread.
#include <memory>

#include "platform/dbus/SdBusDesktop.h"

class QSocketNotifier;
class QTimer;

namespace calvora::platform::dbus {

class QtBusPump {
 public:
  explicit QtBusPump(SdBusDesktop& desktop);
  ~QtBusPump();
  QtBusPump(const QtBusPump&) = delete;
  QtBusPump& operator=(const QtBusPump&) = delete;

 private:
  void Activate();
  void Rearm();

  SdBusDesktop& desktop_;
  int fd_ = -1;
  std::unique_ptr<QSocketNotifier> readNotifier_;
  std::unique_ptr<QSocketNotifier> writeNotifier_;
  std::unique_ptr<QTimer> deadline_;
  int activeDepth_ = 0;  // inside Activate: its end re-arms anyway
};

}  // namespace calvora::platform::dbus
