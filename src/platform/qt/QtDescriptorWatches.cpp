#include "platform/qt/QtDescriptorWatches.h"

#include <QSocketNotifier>

namespace calvora::platform::qt {

namespace {

class QtDescriptorWatch : public DescriptorWatch {
 public:
  QtDescriptorWatch(int fd, DescriptorEvent event, std::function<void()> onReady)
      : notifier_(fd, event == DescriptorEvent::kReadable ? QSocketNotifier::Read
                                                          : QSocketNotifier::Write) {
    // The handler is held by the connection, which Qt keeps alive while it runs: the handler
    // may destroy this watch (its device stopped) without pulling itself out from under it.
    QObject::connect(&notifier_, &QSocketNotifier::activated,
                     [handler = std::move(onReady)] { handler(); });
  }

 private:
  QSocketNotifier notifier_;
};

}  // namespace

std::unique_ptr<DescriptorWatch> QtDescriptorWatches::Watch(int fd, DescriptorEvent event,
                                                            std::function<void()> onReady) {
  if (fd < 0 || !onReady)
    return nullptr;
  return std::make_unique<QtDescriptorWatch>(fd, event, std::move(onReady));
}

}  // namespace calvora::platform::qt
