#pragma once
// Turns SIGTERM and SIGHUP into a call on the main loop, where closing is safe.
#include <QObject>
#include <functional>

class QSocketNotifier;

namespace calvora::platform::qt {

class ShutdownSignals : public QObject {
 public:
  explicit ShutdownSignals(std::function<void()> onShutdown);
  ~ShutdownSignals() override;

 private:
  std::function<void()> onShutdown_;
  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace calvora::platform::qt
