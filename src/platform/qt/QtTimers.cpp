#include "platform/qt/QtTimers.h"

#include <QCoreApplication>
#include <QTimer>

namespace calvora::platform::qt {

namespace {

class QtTimer : public Timer {
 public:
  QtTimer(int32_t intervalMs, std::function<void()> onTick)
      : timer_(new QTimer), onTick_(std::make_shared<std::function<void()>>(std::move(onTick))) {
    timer_->setTimerType(Qt::PreciseTimer);
    timer_->setInterval(intervalMs);
    // The handler is held weakly so that a timer destroyed inside its own handler is safe.
    std::weak_ptr<std::function<void()>> handler = onTick_;
    QObject::connect(timer_, &QTimer::timeout, [handler] {
      if (auto h = handler.lock())
        (*h)();
    });
  }
  ~QtTimer() override {
    timer_->stop();
    timer_->deleteLater();
  }
  void SetEnabled(bool enabled) override {
    if (enabled == timer_->isActive())
      return;
    if (enabled)
      timer_->start();
    else
      timer_->stop();
  }
  bool Enabled() const override { return timer_->isActive(); }
  void SetInterval(int32_t ms) override { timer_->setInterval(ms); }
  int32_t Interval() const override { return timer_->interval(); }

 private:
  QTimer* timer_;
  std::shared_ptr<std::function<void()>> onTick_;
};

}  // namespace

std::unique_ptr<Timer> QtTimers::CreateTimer(int32_t intervalMs, std::function<void()> onTick) {
  return std::make_unique<QtTimer>(intervalMs, std::move(onTick));
}

void QtTimers::ProcessPendingEvents() {
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

}  // namespace calvora::platform::qt
