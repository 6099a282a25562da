// Which control devices the mixer listing opens and offers, on the ALSA configuration of a
// desktop: the system's own files (with the extra plugins installed) plus the virtual card.
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "VirtualMixerEnvironment.h"
#include "platform/alsa/AlsaDeviceWatch.h"
#include "platform/alsa/AlsaMixerDevices.h"
#include "platform/alsa/AlsaMixerListing.h"
#include "platform/alsa/PulseServerIdentity.h"

namespace calvora::platform::alsa {
namespace {

class MixerListing : public testing::VirtualMixerEnvironment {
 protected:
  // Adds configuration files after the system's and the virtual card's.
  static void UseConfig(const std::vector<std::string>& extra) {
    std::string path = "/usr/share/alsa/alsa.conf:" CALVORA_VIRTUAL_CARD_CONF;
    for (const std::string& file : extra)
      path += ":" + file;
    setenv("ALSA_CONFIG_PATH", path.c_str(), 1);
  }

  std::string WriteConfig(const std::string& name, const std::string& text) {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path) << text;
    return path;
  }

  std::vector<std::string> Names(AlsaMixerDevices& devices) {
    std::vector<std::string> names;
    const uint32_t count = devices.DeviceCount();
    for (uint32_t device = 0; device < count; ++device) {
      MixerDeviceCaps caps;
      EXPECT_EQ(devices.GetDeviceCaps(device, caps), 0);
      names.push_back(caps.name);
    }
    return names;
  }
};

TEST_F(MixerListing, DescribedDevicesOfOtherPluginTypesAreNeitherOpenedNorListed) {
  UseConfig({CALVORA_TRAPS_CONF});
  AlsaMixerDevices devices;
  const std::vector<std::string> names = Names(devices);
  EXPECT_FALSE(std::filesystem::exists(dir_ + "/trap.opened"));
  for (uint32_t device = 0; device < names.size(); ++device) {
    EXPECT_NE(devices.DeviceAddress(device), "calvora_trap");
    EXPECT_NE(devices.DeviceAddress(device), "calvora_missing");
    EXPECT_NE(devices.DeviceAddress(device), "arcam_av");  // a serial-port amplifier
  }
  // The virtual card is listed all the same, and repeated counts open no trap either.
  EXPECT_EQ(names, (std::vector<std::string>{"Calvora Virtual Mixer"}));
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(devices.DeviceCount(), 1u);
  EXPECT_FALSE(std::filesystem::exists(dir_ + "/trap.opened"));
}

TEST_F(MixerListing, TheSoundServerBehindDefaultIsOfferedByItsNameAndSkippedWhileNotRunning) {
  // As a desktop's PulseAudio package declares it: "default" is the server. Without the system's
  // files, whose hooks (a PipeWire desktop's own "default") would be read after this one.
  setenv("ALSA_CONFIG_PATH",
         (std::string(CALVORA_VIRTUAL_CARD_CONF ":") +
          WriteConfig("server.conf", "ctl.pulse { type pulse }\nctl.!default { type pulse }\n"))
             .c_str(),
         1);
  snd_config_t* top = nullptr;
  ASSERT_GE(snd_config_update_ref(&top), 0);
  const std::vector<MixerCandidate> candidates = MixerCandidates(top);
  snd_config_unref(top);
  ASSERT_GE(candidates.size(), 2u);
  EXPECT_EQ(candidates[0].address, "default");
  EXPECT_EQ(candidates[0].shown, "PulseAudio");
  // "pulse" reaches the same server and is not offered twice; the virtual card follows.
  for (const MixerCandidate& candidate : candidates)
    EXPECT_NE(candidate.address, "pulse");
  EXPECT_EQ(candidates[1].address, "calvora_mixer");

  // No server runs on this machine: the listing neither crashes nor offers it.
  setenv("PULSE_SERVER", ("unix:" + dir_ + "/no-server").c_str(), 1);
  AlsaMixerDevices devices;
  EXPECT_EQ(Names(devices), (std::vector<std::string>{"Calvora Virtual Mixer"}));
  unsetenv("PULSE_SERVER");

  EXPECT_EQ(SoundServerName("pipewire"), "PipeWire");
  EXPECT_EQ(SoundServerName("arcam_av"), "");
}

TEST_F(MixerListing, TheWatchSeesTheConfigurationAndTheServerSocketsChange) {
  setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
  AlsaDeviceWatch watch;
  EXPECT_TRUE(watch.Changed());
  EXPECT_FALSE(watch.Changed());
  EXPECT_FALSE(watch.Changed());
  // A sound server starts: its socket appears.
  std::filesystem::create_directory(dir_ + "/pulse");
  std::ofstream(dir_ + "/pulse/native").put('\n');
  EXPECT_TRUE(watch.Changed());
  EXPECT_FALSE(watch.Changed());
  // The configuration is another one.
  UseConfig({WriteConfig("empty.conf", "\n")});
  EXPECT_TRUE(watch.Changed());
  EXPECT_FALSE(watch.Changed());
  unsetenv("XDG_RUNTIME_DIR");
}

TEST_F(MixerListing, ThePulseServerIsNamedAfterTheProgramListeningOnItsSocket) {
  const struct {
    const char* pulseServer;
    const char* pulseRuntime;
    const char* runtime;
    std::string socket;
  } kCases[] = {
      {nullptr, nullptr, "/run/u", "/run/u/pulse/native"},
      {nullptr, "/p", "/run/u", "/p/native"},
      {"unix:/s/native", "/p", "/run/u", "/s/native"},
      {"/s/native tcp:host", nullptr, "/run/u", "/s/native"},
      {"tcp:host:4713", nullptr, "/run/u", ""},
  };
  const auto set = [](const char* name, const char* value) {
    value != nullptr ? setenv(name, value, 1) : unsetenv(name);
  };
  for (const auto& c : kCases) {
    set("PULSE_SERVER", c.pulseServer);
    set("PULSE_RUNTIME_PATH", c.pulseRuntime);
    set("XDG_RUNTIME_DIR", c.runtime);
    EXPECT_EQ(PulseServerSocket(), c.socket) << (c.pulseServer ? c.pulseServer : "");
  }

  // Nothing listens yet: the server is taken for PulseAudio.
  const std::string path = dir_ + "/native";
  set("PULSE_SERVER", ("unix:" + path).c_str());
  EXPECT_EQ(ServingProgram(path), "");
  EXPECT_EQ(PulseServerName(), "PulseAudio");
  // This process listens there, under the name PipeWire's server runs by, then another.
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(fd, 4), 0);
  char ownName[17] = {};
  prctl(PR_GET_NAME, ownName);
  prctl(PR_SET_NAME, "pipewire-pulse");
  EXPECT_EQ(ServingProgram(path), "pipewire-pulse");
  EXPECT_EQ(PulseServerName(), "PipeWire");
  EXPECT_EQ(SoundServerName("pulse"), "PipeWire");
  prctl(PR_SET_NAME, "pulseaudio");
  EXPECT_EQ(PulseServerName(), "PulseAudio");
  prctl(PR_SET_NAME, ownName);
  close(fd);
  unsetenv("PULSE_SERVER");
  unsetenv("PULSE_RUNTIME_PATH");
  unsetenv("XDG_RUNTIME_DIR");
}

}  // namespace
}  // namespace calvora::platform::alsa
