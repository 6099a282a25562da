#include "platform/posix/ProcessPriority.h"

#include <sys/resource.h>

namespace calvora::platform::posix {

namespace {
constexpr int kHighPriorityNice = -10;
}

void RaiseProcessPriority() {
  (void)setpriority(PRIO_PROCESS, 0, kHighPriorityNice);
}

}  // namespace calvora::platform::posix
