#pragma once
// The output of watch and auto. Lines are queued and written by a thread of their own, so
// the bus handler that produces them never waits for whoever reads the output: a reader
// that falls behind costs lines, never answers to the utility. Lines that do not fit in
// the queue are left out and counted, and the count is told on stderr once the output
// moves again.
#include <cstddef>
#include <cstdint>
#include <string>

#include "system/WorkerThread.h"

namespace calvora::ctl {

class LineOutput {
 public:
  static constexpr std::size_t kDefaultLimitBytes = 1 << 20;

  explicit LineOutput(int fd, std::size_t limitBytes = kDefaultLimitBytes);
  // Waits up to two seconds for the queue to be written; a writer still stuck then on an
  // output that nobody reads is left behind, so that it cannot keep the program alive.
  ~LineOutput();
  LineOutput(const LineOutput&) = delete;
  LineOutput& operator=(const LineOutput&) = delete;

  // Queues the line and returns at once.
  void Push(std::string line);
  // Whether writing has failed (the reader has gone); later lines are dropped.
  bool Broken() const;
  // Waits until every queued line is written or the time is up; true when all were.
  bool Flush(int timeoutMs);
  uint64_t LeftOut() const;

 private:
  struct State;
  static void Write(State& s);

  WorkerThread<State> writer_;
};

}  // namespace calvora::ctl
