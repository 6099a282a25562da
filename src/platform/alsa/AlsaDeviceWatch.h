#pragma once
// Tells cheaply whether the set of sound devices may have changed since the last look, so
// that device listings, which the supervision runs twice a second, are rebuilt only then.
// What can change it: the ALSA configuration (files edited, ALSA_CONFIG_PATH changed), the
// cards (their nodes in /dev/snd appear, vanish or change permissions) and the sound
// servers (their sockets appear or vanish as the server starts and stops, JACK's too). A look is a
// handful of stat calls and ALSA's own check of its configuration files.
#include <alsa/asoundlib.h>

#include <string>
#include <vector>

namespace calvora::platform::alsa {

class AlsaDeviceWatch {
 public:
  AlsaDeviceWatch() = default;
  ~AlsaDeviceWatch();
  AlsaDeviceWatch(const AlsaDeviceWatch&) = delete;
  AlsaDeviceWatch& operator=(const AlsaDeviceWatch&) = delete;

  // True on the first call and whenever something above changed since the last call.
  bool Changed();
  // The configuration tree as of the last call to Changed; null when ALSA has none.
  snd_config_t* Config() const { return config_; }

 private:
  // One file's identity and times as stat reports them, or its absence.
  struct Stamp {
    std::string path;
    bool exists = false;
    unsigned long long inode = 0;
    long long mtimeNs = 0;
    long long ctimeNs = 0;
    bool operator==(const Stamp&) const = default;
  };
  static std::vector<Stamp> TakeStamps();

  snd_config_t* config_ = nullptr;  // held, so a reloaded tree never reuses its address
  std::vector<Stamp> stamps_;
  bool looked_ = false;
};

}  // namespace calvora::platform::alsa
