#pragma once
// The slow work of password checks (a bcrypt each), done on threads of its own in the order
// it came, so that no thread that answers connections ever waits for one. The queue is
// bounded: past its size work is refused at once and the caller answers without it. Stopping
// drops the work that waits and does not wait for a check under way: a thread still busy is
// let go and finishes on its own, touching only what its work holds.
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace calvora::ctl {

class PasswordQueue {
 public:
  PasswordQueue(std::size_t threads, std::size_t capacity);
  ~PasswordQueue();  // Stop()
  PasswordQueue(const PasswordQueue&) = delete;
  PasswordQueue& operator=(const PasswordQueue&) = delete;

  // Queues the work; false when the queue is full or stopped.
  bool Submit(std::function<void()> work);
  // No more work: the waiting work is dropped; threads that are idle are joined, and a thread
  // in the middle of a work is let go.
  void Stop();

 private:
  // What the threads share; it lives as long as the last of them.
  struct Shared {
    std::mutex mutex;
    std::condition_variable wake, idle;
    std::deque<std::function<void()>> work;
    std::size_t running = 0;  // threads that have not returned
    bool stopping = false;
  };
  static void Work(const std::shared_ptr<Shared>& shared);

  const std::size_t capacity_;
  std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
  std::vector<std::thread> threads_;
};

}  // namespace calvora::ctl
