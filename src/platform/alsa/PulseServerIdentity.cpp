#include "platform/alsa/PulseServerIdentity.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>

namespace calvora::platform::alsa {

namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

}  // namespace

std::string PulseServerSocket() {
  const std::string server = Environment("PULSE_SERVER");
  if (!server.empty()) {
    // A list of servers is tried in order; the first is the one normally reached.
    const std::string first = server.substr(0, server.find(' '));
    if (first.rfind("unix:", 0) == 0)
      return first.substr(5);
    return first.front() == '/' ? first : std::string();
  }
  const std::string pulseRuntime = Environment("PULSE_RUNTIME_PATH");
  if (!pulseRuntime.empty())
    return pulseRuntime + "/native";
  std::string runtime = Environment("XDG_RUNTIME_DIR");
  if (runtime.empty())
    runtime = "/run/user/" + std::to_string(getuid());
  return runtime + "/pulse/native";
}

std::string ServingProgram(const std::string& socketPath) {
  sockaddr_un address{};
  if (socketPath.empty() || socketPath.size() >= sizeof address.sun_path)
    return {};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0)
    return {};
  // The kernel records the listening process's credentials on the connection; nothing is
  // sent, so the server sees a client come and go.
  ucred peer{};
  socklen_t size = sizeof peer;
  const bool known =
      connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
      getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.pid > 0;
  close(fd);
  if (!known)
    return {};
  std::string name;
  std::ifstream("/proc/" + std::to_string(peer.pid) + "/comm") >> name;
  return name;
}

std::string PulseServerName() {
  return ServingProgram(PulseServerSocket()).rfind("pipewire", 0) == 0 ? "PipeWire" : "PulseAudio";
}

}  // namespace calvora::platform::alsa
