#include "platform/qt/QtWakeSignal.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QSocketNotifier>

#include <cstdint>

namespace calvora::platform::qt {

QtWakeSignal::QtWakeSignal() : fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
  if (fd_ < 0)
    return;
  notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { Activated(); });
}

QtWakeSignal::~QtWakeSignal() {
  notifier_.reset();
  if (fd_ >= 0)
    close(fd_);
}

void QtWakeSignal::Raise() {
  if (fd_ < 0)
    return;
  // The counter only grows until the main thread reads it; a full counter (EAGAIN) is
  // already readable, which is all a raise has to ensure.
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = write(fd_, &one, sizeof one);
}

void QtWakeSignal::SetHandler(std::function<void()> handler) {
  handler_ = std::move(handler);
}

void QtWakeSignal::Activated() {
  // Read before the handler runs: a raise from here on makes the descriptor readable again
  // and so is never lost.
  uint64_t count = 0;
  [[maybe_unused]] const ssize_t n = read(fd_, &count, sizeof count);
  const std::function<void()> handler = handler_;  // it may replace itself
  if (handler)
    handler();
}

}  // namespace calvora::platform::qt
