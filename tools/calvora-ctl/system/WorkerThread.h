#pragma once
// A thread of its own that shares a state with its owner, and a bounded stop. The state lives
// as long as either of them holds it. Stopping asks the thread to end once its work is done,
// waits up to a given time and joins it; a thread still busy then (writing to an output that
// nobody reads, waiting for a command that does not end) is let go with the state, so that it
// cannot keep the program alive.
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>
#include <utility>

namespace calvora::ctl {

// The part of a worker's state that starts and ends its thread; each worker adds its own.
struct WorkerState {
  std::mutex mutex;              // guards the whole state
  std::condition_variable wake;  // the thread waits on it for work or for quit
  bool quit = false;             // the owner stops: the thread ends once its work is done
  bool ended = false;            // the thread has returned
  std::condition_variable endedSignal;
};

template <typename State>
class WorkerThread {
 public:
  // Makes the state of args and runs work(state) on a thread of its own; stopping waits up to
  // stopWithin for it to end.
  template <typename Work, typename... Args>
  WorkerThread(std::chrono::milliseconds stopWithin, Work work, Args&&... args)
      : stopWithin_(stopWithin),
        state_(std::make_shared<State>(std::forward<Args>(args)...)),
        thread_([state = state_, work] {
          work(*state);
          {
            std::lock_guard lock(state->mutex);
            state->ended = true;
          }
          state->endedSignal.notify_all();
        }) {
    static_assert(std::is_base_of_v<WorkerState, State>);
  }
  ~WorkerThread() { Stop(); }
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  State& operator*() const { return *state_; }
  State* operator->() const { return state_.get(); }

  // Sets quit, waits up to the stop time for the thread to end, and joins it or lets it go.
  // True when it ended in time.
  bool Stop() {
    std::unique_lock lock(state_->mutex);
    if (!thread_.joinable())
      return state_->ended;
    state_->quit = true;
    state_->wake.notify_all();
    const bool ended =
        state_->endedSignal.wait_for(lock, stopWithin_, [this] { return state_->ended; });
    lock.unlock();
    if (ended)
      thread_.join();
    else
      thread_.detach();
    return ended;
  }

 private:
  const std::chrono::milliseconds stopWithin_;
  std::shared_ptr<State> state_;
  std::thread thread_;
};

}  // namespace calvora::ctl
