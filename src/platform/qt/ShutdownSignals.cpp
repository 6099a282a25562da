#include "platform/qt/ShutdownSignals.h"

#include <sys/socket.h>
#include <unistd.h>
#include <QSocketNotifier>
#include <csignal>

namespace calvora::platform::qt {

namespace {
// The signal handler may only write to this socket; the main loop reads the other end.
int g_signalSockets[2] = {-1, -1};

void OnSignal(int signal) {
  const char byte = static_cast<char>(signal);
  [[maybe_unused]] const ssize_t n = ::write(g_signalSockets[0], &byte, 1);
}
}  // namespace

ShutdownSignals::ShutdownSignals(std::function<void()> onShutdown)
    : onShutdown_(std::move(onShutdown)) {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalSockets) != 0)
    return;
  notifier_ = new QSocketNotifier(g_signalSockets[1], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [this] {
    char byte = 0;
    [[maybe_unused]] const ssize_t n = ::read(g_signalSockets[1], &byte, 1);
    if (onShutdown_)
      onShutdown_();
  });
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
}

ShutdownSignals::~ShutdownSignals() {
  signal(SIGTERM, SIG_DFL);
  signal(SIGHUP, SIG_DFL);
  delete notifier_;
  notifier_ = nullptr;
  for (int& fd : g_signalSockets) {
    if (fd >= 0)
      ::close(fd);
    fd = -1;
  }
}

}  // namespace calvora::platform::qt
