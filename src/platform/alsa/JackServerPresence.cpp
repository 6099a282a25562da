#include "platform/alsa/JackServerPresence.h"

#include <glob.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace calvora::platform::alsa {

namespace {

constexpr const char* kSharedMemory = "/dev/shm";
constexpr const char* kPipeWireJackConfig = "/etc/ld.so.conf.d/pipewire-jack-*.conf";

std::string Environment(const char* name, const std::string& fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0' ? value : fallback;
}

bool PipeWireStandsInForJack() {
  glob_t found{};
  const bool any = glob(kPipeWireJackConfig, 0, nullptr, &found) == 0 && found.gl_pathc > 0;
  globfree(&found);
  return any;
}

}  // namespace

std::vector<std::string> JackServerSockets() {
  const std::string name = Environment("JACK_DEFAULT_SERVER", "default");
  const std::string uid = std::to_string(getuid());
  std::vector<std::string> sockets{
      std::string(kSharedMemory) + "/jack_" + name + "_" + uid + "_0",
      std::string(kSharedMemory) + "/jack-" + uid + "/" + name + "/jack_0"};
  if (PipeWireStandsInForJack()) {
    const std::string runtime =
        Environment("PIPEWIRE_RUNTIME_DIR", Environment("XDG_RUNTIME_DIR", "/run/user/" + uid));
    sockets.push_back(runtime + "/" + Environment("PIPEWIRE_REMOTE", "pipewire-0"));
  }
  return sockets;
}

bool JackServerRuns() {
  for (const std::string& path : JackServerSockets()) {
    struct stat info {};
    if (stat(path.c_str(), &info) == 0)
      return true;
  }
  return false;
}

}  // namespace calvora::platform::alsa
