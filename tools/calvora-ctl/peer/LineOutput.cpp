#include "LineOutput.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>

namespace calvora::ctl {

namespace {

// Writes all of text; false when the descriptor refuses it.
bool WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    // In pieces that every system's write takes (Windows counts in an unsigned int).
    const auto piece = static_cast<unsigned>(std::min<std::size_t>(text.size() - done, 1u << 30));
    const auto n = ::write(fd, text.data() + done, piece);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

struct LineOutput::State : WorkerState {
  State(int outputFd, std::size_t limit) : fd(outputFd), limitBytes(limit) {}

  const int fd;
  const std::size_t limitBytes;
  std::condition_variable drained;
  std::deque<std::string> lines;
  std::size_t queuedBytes = 0;
  bool writing = false;  // the writer holds a line it took from the queue
  bool broken = false;
  uint64_t leftOut = 0;  // in all
  uint64_t untold = 0;   // not yet told on stderr
};

LineOutput::LineOutput(int fd, std::size_t limitBytes)
    : writer_(std::chrono::milliseconds(2000), Write, fd, limitBytes) {}

// The writer, told to quit, writes what is queued before it ends.
LineOutput::~LineOutput() = default;

void LineOutput::Push(std::string line) {
  line += '\n';
  {
    std::lock_guard lock(writer_->mutex);
    if (writer_->broken)
      return;
    if (writer_->queuedBytes + line.size() > writer_->limitBytes) {
      ++writer_->leftOut;
      ++writer_->untold;
      return;
    }
    writer_->queuedBytes += line.size();
    writer_->lines.push_back(std::move(line));
  }
  writer_->wake.notify_one();
}

bool LineOutput::Broken() const {
  std::lock_guard lock(writer_->mutex);
  return writer_->broken;
}

uint64_t LineOutput::LeftOut() const {
  std::lock_guard lock(writer_->mutex);
  return writer_->leftOut;
}

bool LineOutput::Flush(int timeoutMs) {
  std::unique_lock lock(writer_->mutex);
  return writer_->drained.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] {
    return writer_->broken || (writer_->lines.empty() && !writer_->writing);
  });
}

void LineOutput::Write(State& s) {
  std::unique_lock lock(s.mutex);
  for (;;) {
    s.wake.wait(lock, [&s] { return s.quit || !s.lines.empty(); });
    if (s.lines.empty())
      return;  // told to quit, with nothing left to write
    std::string line = std::move(s.lines.front());
    s.lines.pop_front();
    s.queuedBytes -= line.size();
    const uint64_t untold = s.lines.empty() ? s.untold : 0;
    s.untold -= untold;
    s.writing = true;
    lock.unlock();
    const bool written = WriteAll(s.fd, line);
    if (written && untold > 0) {
      WriteAll(STDERR_FILENO, "calvora-ctl: " + std::to_string(untold) +
                                  " lines left out: the output was not read in time\n");
    }
    lock.lock();
    s.writing = false;
    if (!written) {
      s.broken = true;
      s.lines.clear();
      s.queuedBytes = 0;
    }
    if (s.broken || s.lines.empty())
      s.drained.notify_all();
  }
}

}  // namespace calvora::ctl
