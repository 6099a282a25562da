#include "platform/dbus/QtBusPump.h"

#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace calvora::platform::dbus {

QtBusPump::QtBusPump(SdBusDesktop& desktop) : desktop_(desktop), deadline_(new QTimer) {
  deadline_->setSingleShot(true);
  deadline_->setTimerType(Qt::PreciseTimer);
  QObject::connect(deadline_.get(), &QTimer::timeout, [this] { Activate(); });
  desktop_.SetRearm([this] { Rearm(); });
  Rearm();
}

QtBusPump::~QtBusPump() {
  desktop_.SetRearm(nullptr);
}

void QtBusPump::Activate() {
  ++activeDepth_;
  desktop_.Process();
  --activeDepth_;
  Rearm();
}

void QtBusPump::Rearm() {
  if (activeDepth_ > 0)
    return;
  const int fd = desktop_.Fd();
  if (fd != fd_) {
    // First call, or the connection was lost: watch the new descriptor, or none. The old
    // notifiers may be the very ones whose signal is running, so they go later.
    for (auto* notifier : {readNotifier_.release(), writeNotifier_.release()}) {
      if (!notifier)
        continue;
      notifier->setEnabled(false);
      notifier->deleteLater();
    }
    fd_ = fd;
    if (fd_ >= 0) {
      readNotifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
      QObject::connect(readNotifier_.get(), &QSocketNotifier::activated, [this] { Activate(); });
      writeNotifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Write);
      writeNotifier_->setEnabled(false);
      QObject::connect(writeNotifier_.get(), &QSocketNotifier::activated, [this] { Activate(); });
    }
  }
  if (fd_ < 0) {
    deadline_->stop();
    return;
  }
  writeNotifier_->setEnabled(desktop_.WantsWrite());
  const int64_t timeoutMs = desktop_.TimeoutMs();
  if (timeoutMs < 0) {
    deadline_->stop();
    return;
  }
  // Rearmed after every post: a deadline that has not moved (the bus's next time-out is
  // that of a call already waiting) keeps its timer rather than registering it anew.
  const int64_t capped = std::min<int64_t>(timeoutMs, std::numeric_limits<int>::max());
  const int remaining = deadline_->remainingTime();
  if (deadline_->isActive() && remaining >= 0 && std::abs(remaining - capped) <= 1)
    return;
  deadline_->start(static_cast<int>(capped));
}

}  // namespace calvora::platform::dbus
