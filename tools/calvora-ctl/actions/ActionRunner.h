#pragma once
// Runs the command a station gave for one kind of event (--on-silence and its kin), off the
// thread that answers the utility: Trigger only hands the event over and returns, so a slow
// command never delays an answer and never gets this peer dropped.
//
// At most one instance of the command runs at a time. An event that comes while it runs is
// remembered and the command runs again for it as soon as the running one has ended; a later
// event replaces a remembered one, which is counted as skipped. So the last state always wins
// and a flapping programme never piles up instances.
//
// The command's output (stdout and stderr) and its exit status are reported line by line
// through the given function, which may be called from the runner's own thread.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "system/WorkerThread.h"

namespace calvora::ctl {

class ActionRunner {
 public:
  using Report = std::function<void(std::string line)>;

  // name labels the reports ("on-silence"); argv is the program and its arguments.
  ActionRunner(std::string name, std::vector<std::string> argv, Report report);
  // Forgets a remembered event; waits up to two seconds for a running command and then
  // leaves it to finish by itself.
  ~ActionRunner();
  ActionRunner(const ActionRunner&) = delete;
  ActionRunner& operator=(const ActionRunner&) = delete;

  // Runs the command with these "NAME=value" entries added to the environment, now or after
  // the running instance. Never waits.
  void Trigger(std::vector<std::string> environment);

  // Waits until nothing runs or is remembered; true when that happened in time.
  bool WaitIdle(int timeoutMs);

  uint64_t Started() const;
  uint64_t Skipped() const;

 private:
  struct State;
  static void Work(State& s);

  WorkerThread<State> worker_;
};

}  // namespace calvora::ctl
