#include "platform/qt/SessionEnd.h"

#include <QCoreApplication>
#include <QEvent>

namespace calvora::platform::qt {

SessionEnd::SessionEnd(std::function<bool()> windowOpen, std::function<void()> onEnd)
    : windowOpen_(std::move(windowOpen)), onEnd_(std::move(onEnd)) {
  QCoreApplication::instance()->installEventFilter(this);
}

SessionEnd::~SessionEnd() {
  if (QCoreApplication* app = QCoreApplication::instance())
    app->removeEventFilter(this);
}

bool SessionEnd::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Quit && watched == QCoreApplication::instance() && windowOpen_ &&
      windowOpen_() && onEnd_)
    onEnd_();
  return false;  // the quit goes on
}

}  // namespace calvora::platform::qt
