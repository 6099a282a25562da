#include "platform/alsa/AlsaDeviceWatch.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/alsa/JackServerPresence.h"

namespace calvora::platform::alsa {

namespace {

constexpr const char* kSoundNodes = "/dev/snd";

// Where the user's sound servers put their sockets: $XDG_RUNTIME_DIR, else /run/user/<uid>.
std::string RuntimeDir() {
  const char* dir = std::getenv("XDG_RUNTIME_DIR");
  if (dir != nullptr && dir[0] != '\0')
    return dir;
  return "/run/user/" + std::to_string(getuid());
}

long long Nanoseconds(const timespec& time) {
  return static_cast<long long>(time.tv_sec) * 1000000000LL + time.tv_nsec;
}

}  // namespace

AlsaDeviceWatch::~AlsaDeviceWatch() {
  if (config_ != nullptr)
    snd_config_unref(config_);
}

std::vector<AlsaDeviceWatch::Stamp> AlsaDeviceWatch::TakeStamps() {
  std::vector<std::string> paths{kSoundNodes};
  // Each card's control node: its permissions decide whether the card can be listed.
  if (DIR* nodes = opendir(kSoundNodes)) {
    while (const dirent* entry = readdir(nodes))
      if (std::strncmp(entry->d_name, "controlC", 8) == 0)
        paths.push_back(std::string(kSoundNodes) + "/" + entry->d_name);
    closedir(nodes);
  }
  std::sort(paths.begin() + 1, paths.end());
  const std::string runtime = RuntimeDir();
  paths.push_back(runtime + "/pulse/native");
  paths.push_back(runtime + "/pipewire-0");
  for (std::string& jack : JackServerSockets())
    paths.push_back(std::move(jack));

  std::vector<Stamp> stamps;
  stamps.reserve(paths.size());
  for (std::string& path : paths) {
    Stamp stamp;
    struct stat info {};
    if (stat(path.c_str(), &info) == 0) {
      stamp.exists = true;
      stamp.inode = info.st_ino;
      stamp.mtimeNs = Nanoseconds(info.st_mtim);
      stamp.ctimeNs = Nanoseconds(info.st_ctim);
    }
    stamp.path = std::move(path);
    stamps.push_back(std::move(stamp));
  }
  return stamps;
}

bool AlsaDeviceWatch::Changed() {
  snd_config_t* now = nullptr;
  if (snd_config_update_ref(&now) < 0)
    now = nullptr;
  bool changed = !looked_ || now != config_;
  if (config_ != nullptr)
    snd_config_unref(config_);
  config_ = now;
  std::vector<Stamp> stamps = TakeStamps();
  if (stamps != stamps_) {
    changed = true;
    stamps_ = std::move(stamps);
  }
  looked_ = true;
  return changed;
}

}  // namespace calvora::platform::alsa
