#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "CommandProcess.h"

extern char** environ;

namespace calvora::ctl {

namespace {

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

// Reads the command's output until the command has ended. A helper it left running in the
// background may keep the pipe open; the command's own end is what counts.
void PassOutput(int fd, pid_t pid, CommandOutput& output, int& status) {
  bool ended = false;
  bool open = true;
  while (open) {
    pollfd readable{fd, POLLIN, 0};
    const int ready = poll(&readable, 1, ended ? 0 : 200);
    if (ready > 0) {
      char buffer[4096];
      const ssize_t n = read(fd, buffer, sizeof buffer);
      if (n > 0) {
        output.Add(buffer, static_cast<std::size_t>(n));
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
  output.Finish();
  if (!ended) {
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
}

}  // namespace

void RunCommandToItsEnd(const std::string& name, const std::vector<std::string>& argv,
                        const std::vector<std::string>& environment, const CommandReport& report) {
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

  std::vector<std::string> current;
  for (char** entry = environ; *entry; ++entry)
    current.emplace_back(*entry);
  std::vector<std::string> args = argv;
  std::vector<std::string> env = MergedEnvironment(current, environment, false);
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
  CommandOutput output(name, argv[0], report);
  PassOutput(pipeFds[0], pid, output, status);
  close(pipeFds[0]);
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.2f", SecondsSince(start));
  report(name + ": " + argv[0] + " (pid " + std::to_string(pid) + ") " + DescribeStatus(status) +
         " after " + seconds + " s");
}

}  // namespace calvora::ctl
