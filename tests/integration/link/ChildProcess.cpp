#include "ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstring>

extern char** environ;

namespace calvora::testing {

namespace {

int64_t NowMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void ReadAvailable(int fd, std::string& into) {
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0)
      return;
    into.append(buffer, static_cast<std::size_t>(n));
  }
}

}  // namespace

ChildProcess::ChildProcess(std::vector<std::string> argv,
                           const std::map<std::string, std::string>& env) {
  int in[2];
  int out[2];
  int err[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
    return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);

  std::vector<std::string> environment;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    if (!env.contains(name))
      environment.push_back(entry);
  }
  for (const auto& [name, value] : env)
    if (!value.empty())
      environment.push_back(name + "=" + value);
  std::vector<char*> args;
  for (auto& a : argv)
    args.push_back(a.data());
  args.push_back(nullptr);
  std::vector<char*> envp;
  for (auto& e : environment)
    envp.push_back(e.data());
  envp.push_back(nullptr);

  if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), envp.data()) != 0)
    pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  close(err[1]);
  in_ = in[1];
  out_ = out[0];
  err_ = err[0];
  fcntl(out_, F_SETFL, O_NONBLOCK);
  fcntl(err_, F_SETFL, O_NONBLOCK);
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !reaped_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  for (int fd : {in_, out_, err_})
    if (fd >= 0)
      close(fd);
}

void ChildProcess::WriteLine(const std::string& line) {
  const std::string text = line + "\n";
  if (in_ >= 0 && write(in_, text.data(), text.size()) < 0) {
    // The program has ended; what it printed tells the test why.
  }
}

void ChildProcess::CloseInput() {
  if (in_ >= 0)
    close(in_);
  in_ = -1;
}

void ChildProcess::Poll() {
  ReadAvailable(out_, partial_);
  for (std::size_t eol; (eol = partial_.find('\n')) != std::string::npos;) {
    lines_.push_back(partial_.substr(0, eol));
    partial_.erase(0, eol + 1);
  }
  ReadAvailable(err_, errors_);
}

std::optional<std::string> ChildProcess::FindLine(const std::string& prefix,
                                                  std::size_t from) const {
  for (std::size_t i = from; i < lines_.size(); ++i)
    if (lines_[i].starts_with(prefix))
      return lines_[i];
  return std::nullopt;
}

std::optional<std::string> ChildProcess::WaitLine(const std::string& prefix, int timeoutMs) {
  const int64_t deadline = NowMs() + timeoutMs;
  for (;;) {
    Poll();
    if (auto line = FindLine(prefix))
      return line;
    const int64_t left = deadline - NowMs();
    if (left <= 0)
      return std::nullopt;
    pollfd fds{out_, POLLIN, 0};
    poll(&fds, 1, static_cast<int>(std::min<int64_t>(left, 50)));
  }
}

void ChildProcess::Kill(int signal) {
  if (pid_ > 0 && !reaped_)
    kill(pid_, signal);
}

std::optional<int> ChildProcess::Wait(int timeoutMs) {
  const int64_t deadline = NowMs() + timeoutMs;
  while (pid_ > 0 && !reaped_) {
    int status = 0;
    const pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      reaped_ = true;
      Poll();
      if (WIFEXITED(status))
        return WEXITSTATUS(status);
      return std::nullopt;
    }
    if (NowMs() >= deadline)
      return std::nullopt;
    Poll();
    usleep(10000);
  }
  return std::nullopt;
}

}  // namespace calvora::testing
