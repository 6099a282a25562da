#include "PasswordQueue.h"

#include <algorithm>
#include <chrono>

namespace calvora::ctl {

namespace {

// How long stopping waits for the threads to see it: an idle thread takes microseconds, and a
// thread in a check is let go rather than waited for.
constexpr std::chrono::milliseconds kJoinWait{100};

}  // namespace

PasswordQueue::PasswordQueue(std::size_t threads, std::size_t capacity)
    : capacity_(std::max<std::size_t>(1, capacity)) {
  threads = std::max<std::size_t>(1, threads);
  shared_->running = threads;
  for (std::size_t i = 0; i < threads; ++i)
    threads_.emplace_back([shared = shared_] { Work(shared); });
}

PasswordQueue::~PasswordQueue() {
  Stop();
}

bool PasswordQueue::Submit(std::function<void()> work) {
  {
    std::lock_guard lock(shared_->mutex);
    if (shared_->stopping || shared_->work.size() >= capacity_)
      return false;
    shared_->work.push_back(std::move(work));
  }
  shared_->wake.notify_one();
  return true;
}

void PasswordQueue::Stop() {
  std::unique_lock lock(shared_->mutex);
  if (threads_.empty())
    return;
  shared_->stopping = true;
  shared_->work.clear();
  shared_->wake.notify_all();
  const bool allReturned =
      shared_->idle.wait_for(lock, kJoinWait, [this] { return shared_->running == 0; });
  lock.unlock();
  for (auto& thread : threads_) {
    if (allReturned)
      thread.join();
    else
      thread.detach();  // each holds the shared state it needs until it returns
  }
  threads_.clear();
}

void PasswordQueue::Work(const std::shared_ptr<Shared>& shared) {
  std::unique_lock lock(shared->mutex);
  for (;;) {
    shared->wake.wait(lock, [&] { return shared->stopping || !shared->work.empty(); });
    if (shared->stopping)
      break;
    auto work = std::move(shared->work.front());
    shared->work.pop_front();
    lock.unlock();
    work();
    work = nullptr;  // what the work holds is let go before the next
    lock.lock();
  }
  --shared->running;
  shared->idle.notify_all();
}

}  // namespace calvora::ctl
