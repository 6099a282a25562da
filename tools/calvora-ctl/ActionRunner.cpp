#include "ActionRunner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>

extern char** environ;

namespace calvora::ctl {

namespace {

constexpr int kMaxOutputLines = 200;  // per run; a chatty command costs no more than this
constexpr std::size_t kMaxLineBytes = 1000;

// The environment of this program with the event's entries put over it.
std::vector<std::string> MergedEnvironment(const std::vector<std::string>& added) {
  std::vector<std::string> merged;
  for (char** entry = environ; *entry; ++entry) {
    const std::string_view text(*entry);
    const std::string_view name = text.substr(0, text.find('='));
    bool replaced = false;
    for (const std::string& a : added)
      replaced = replaced || std::string_view(a).substr(0, a.find('=')) == name;
    if (!replaced)
      merged.emplace_back(text);
  }
  merged.insert(merged.end(), added.begin(), added.end());
  return merged;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts)
    pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

double SecondsSince(const timespec& start) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec - start.tv_sec) +
         static_cast<double>(now.tv_nsec - start.tv_nsec) / 1e9;
}

std::string DescribeStatus(int status) {
  if (WIFEXITED(status))
    return "exited with " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status))
    return std::string("was killed by signal ") + std::to_string(WTERMSIG(status)) + " (" +
           strsignal(WTERMSIG(status)) + ")";
  return "ended with status " + std::to_string(status);
}

}  // namespace

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

  // Starts the command, passes its output on and waits for it to end.
  void RunOnce(std::vector<std::string> environment);
  void PassOutput(int fd, pid_t pid, int& status);
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
    s.RunOnce(std::move(environment));
    lock.lock();
    s.running = false;
    if (!s.remembered)
      s.idle.notify_all();
  }
}

void ActionRunner::State::RunOnce(std::vector<std::string> environment) {
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) {
    report(name + ": could not start: " + std::strerror(errno));
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
  // The command gets the signals' usual meaning back (this program ignores SIGPIPE).
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (int signal : {SIGPIPE, SIGINT, SIGTERM, SIGHUP})
    sigaddset(&defaults, signal);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

  std::vector<std::string> args = argv;
  std::vector<std::string> env = MergedEnvironment(environment);
  std::vector<char*> argPointers = Pointers(args);
  std::vector<char*> envPointers = Pointers(env);
  timespec start{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  pid_t pid = 0;
  const int failed = posix_spawnp(&pid, argPointers[0], &actions, &attributes, argPointers.data(),
                                  envPointers.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  close(pipeFds[1]);
  if (failed != 0) {
    close(pipeFds[0]);
    report(name + ": could not start " + argv[0] + ": " + std::strerror(failed));
    return;
  }
  report(name + ": started " + argv[0] + " (pid " + std::to_string(pid) + ")");
  int status = 0;
  PassOutput(pipeFds[0], pid, status);
  close(pipeFds[0]);
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.2f", SecondsSince(start));
  report(name + ": " + argv[0] + " (pid " + std::to_string(pid) + ") " + DescribeStatus(status) +
         " after " + seconds + " s");
}

// Reads the command's output until the command has ended. A helper it left running in the
// background may keep the pipe open; the command's own end is what counts.
void ActionRunner::State::PassOutput(int fd, pid_t pid, int& status) {
  std::string pending;
  int lines = 0;
  int leftOut = 0;
  bool ended = false;
  bool open = true;
  auto emit = [&](std::string line) {
    if (lines++ < kMaxOutputLines) {
      if (line.size() > kMaxLineBytes)
        line.resize(kMaxLineBytes);
      report(name + ": " + argv[0] + ": " + line);
    } else {
      ++leftOut;
    }
  };
  while (open) {
    pollfd readable{fd, POLLIN, 0};
    const int ready = poll(&readable, 1, ended ? 0 : 200);
    if (ready > 0) {
      char buffer[4096];
      const ssize_t n = read(fd, buffer, sizeof buffer);
      if (n > 0) {
        pending.append(buffer, static_cast<std::size_t>(n));
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
          emit(pending.substr(0, end));
          pending.erase(0, end + 1);
        }
        if (pending.size() > kMaxLineBytes) {
          emit(pending);
          pending.clear();
        }
        continue;
      }
      if (n < 0 && errno == EINTR)
        continue;
      open = false;  // end of the output
    } else if (ready == 0 && ended) {
      break;  // the command has ended and nothing more is waiting
    }
    if (!ended && waitpid(pid, &status, WNOHANG) == pid)
      ended = true;
  }
  if (!pending.empty())
    emit(pending);
  if (leftOut > 0)
    report(name + ": " + std::to_string(leftOut) + " more lines of output left out");
  if (!ended) {
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
}

}  // namespace calvora::ctl
