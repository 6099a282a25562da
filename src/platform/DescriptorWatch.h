#pragma once
// Main-loop watches on file descriptors: the main loop sleeps until a watched descriptor is
// ready and then runs its handler on the main thread. A device that signals through
// descriptors (ALSA's poll descriptors) is served this way without a thread of its own.
#include <functional>
#include <memory>

namespace calvora::platform {

enum class DescriptorEvent { kReadable, kWritable };

class DescriptorWatch {
 public:
  virtual ~DescriptorWatch() = default;
};

class DescriptorWatches {
 public:
  virtual ~DescriptorWatches() = default;

  // Runs onReady on the main thread whenever fd is ready for the event, for as long as the
  // watch lives. The handler must take away what made the descriptor ready, or it runs again
  // at once. Destroying the watch, even from inside its own handler, stops it. nullptr when the
  // descriptor cannot be watched.
  virtual std::unique_ptr<DescriptorWatch> Watch(int fd, DescriptorEvent event,
                                                 std::function<void()> onReady) = 0;
};

}  // namespace calvora::platform
