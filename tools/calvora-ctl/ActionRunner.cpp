#include "ActionRunner.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>

#include "CommandProcess.h"

namespace calvora::ctl {

struct ActionRunner::State {
  State(std::string n, std::vector<std::string> a, Report r)
      : name(std::move(n)), argv(std::move(a)), report(std::move(r)) {}

  const std::string name;
  const std::vector<std::string> argv;
  const Report report;
  std::mutex mutex;
  std::condition_variable wake;
  std::condition_variable idle;
  std::optional<std::vector<std::string>> remembered;
  bool running = false;
  bool quit = false;
  uint64_t started = 0;
  uint64_t skipped = 0;
};

ActionRunner::ActionRunner(std::string name, std::vector<std::string> argv, Report report)
    : state_(std::make_shared<State>(std::move(name), std::move(argv), std::move(report))),
      worker_([state = state_] { Work(state); }) {}

ActionRunner::~ActionRunner() {
  {
    std::lock_guard lock(state_->mutex);
    state_->remembered.reset();
  }
  const bool done = WaitIdle(2000);
  {
    std::lock_guard lock(state_->mutex);
    state_->quit = true;
  }
  state_->wake.notify_all();
  if (done)
    worker_.join();
  else
    worker_.detach();
}

void ActionRunner::Trigger(std::vector<std::string> environment) {
  {
    std::lock_guard lock(state_->mutex);
    if (state_->remembered)
      ++state_->skipped;
    state_->remembered = std::move(environment);
  }
  state_->wake.notify_one();
}

bool ActionRunner::WaitIdle(int timeoutMs) {
  std::unique_lock lock(state_->mutex);
  return state_->idle.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                               [this] { return !state_->running && !state_->remembered; });
}

uint64_t ActionRunner::Started() const {
  std::lock_guard lock(state_->mutex);
  return state_->started;
}

uint64_t ActionRunner::Skipped() const {
  std::lock_guard lock(state_->mutex);
  return state_->skipped;
}

void ActionRunner::Work(const std::shared_ptr<State>& state) {
  State& s = *state;
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
