#pragma once
// Descriptor watches on the Qt main loop: one socket notifier each. Qt's nested loops (a
// modal dialog, a message box) serve them like the main loop does.
#include "platform/DescriptorWatch.h"

namespace calvora::platform::qt {

class QtDescriptorWatches : public DescriptorWatches {
 public:
  std::unique_ptr<DescriptorWatch> Watch(int fd, DescriptorEvent event,
                                         std::function<void()> onReady) override;
};

}  // namespace calvora::platform::qt
