#include "ActionRunner.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>

#include "CommandProcess.h"

namespace calvora::ctl {

struct ActionRunner::State : WorkerState {
  State(std::string n, std::vector<std::string> a, Report r)
      : name(std::move(n)), argv(std::move(a)), report(std::move(r)) {}

  const std::string name;
  const std::vector<std::string> argv;
  const Report report;
  std::condition_variable idle;
  std::optional<std::vector<std::string>> remembered;
  bool running = false;
  uint64_t started = 0;
  uint64_t skipped = 0;
};

ActionRunner::ActionRunner(std::string name, std::vector<std::string> argv, Report report)
    : worker_(std::chrono::milliseconds(2000), Work, std::move(name), std::move(argv),
              std::move(report)) {}

// A command running is waited for (within the worker's stop), a remembered one is not run.
ActionRunner::~ActionRunner() {
  std::lock_guard lock(worker_->mutex);
  worker_->remembered.reset();
}

void ActionRunner::Trigger(std::vector<std::string> environment) {
  {
    std::lock_guard lock(worker_->mutex);
    if (worker_->remembered)
      ++worker_->skipped;
    worker_->remembered = std::move(environment);
  }
  worker_->wake.notify_one();
}

bool ActionRunner::WaitIdle(int timeoutMs) {
  std::unique_lock lock(worker_->mutex);
  return worker_->idle.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                [this] { return !worker_->running && !worker_->remembered; });
}

uint64_t ActionRunner::Started() const {
  std::lock_guard lock(worker_->mutex);
  return worker_->started;
}

uint64_t ActionRunner::Skipped() const {
  std::lock_guard lock(worker_->mutex);
  return worker_->skipped;
}

void ActionRunner::Work(State& s) {
  std::unique_lock lock(s.mutex);
  for (;;) {
    s.wake.wait(lock, [&s] { return s.quit || s.remembered; });
    if (s.quit)
      return;
    std::vector<std::string> environment = std::move(*s.remembered);
    s.remembered.reset();
    s.running = true;
    ++s.started;
    lock.unlock();
    RunCommandToItsEnd(s.name, s.argv, environment, s.report);
    lock.lock();
    s.running = false;
    if (!s.remembered)
      s.idle.notify_all();
  }
}

}  // namespace calvora::ctl
