#pragma once
// Which ALSA control devices are mixer devices, and in what order. Only control devices that
// are safe to open are ever listed, because listing opens them:
//   1. the sound cards ("hw:N"), in card order;
//   2. the sound server's mixer where the configuration declares one: the control device
//      behind "default" when that is a PulseAudio or PipeWire one (what alsamixer opens without
//      arguments), otherwise each control device declared with one of those types; shown as
//      "PipeWire" when PipeWire serves it (also behind the pulse plugin), else "PulseAudio";
//   3. the control devices of this program's own virtual card (type "calvora").
// The rule is an allow-list of plugin types read from the configuration. A control device
// of any other type is never opened to list it, described or not: plugins load whatever
// library the configuration names, and some drive hardware of their own in their open (a
// serial port of an amplifier) or crash there when it is missing. Opening a sound server's
// mixer only connects to the server's socket, and the virtual card only reads its files.
#include <alsa/asoundlib.h>

#include <string>
#include <vector>

namespace calvora::platform::alsa {

struct MixerCandidate {
  std::string address;  // the control device name to open
  std::string shown;    // the name to show; empty to show the card name it reports
  // A device with no other sign of coming and going (the virtual card keeps its presence in
  // files of its own), so it is looked at on every count; it opens in microseconds.
  bool probedEveryCount = false;
  // A sound server's mixer: it is there while its server answers. A killed server leaves its
  // socket as it was, so the watch cannot tell; the open handle is asked on every count
  // instead (no new connection), and a server without one is tried on every count until it
  // answers.
  // The plugin type of a sound server's mixer ("pulse", "pipewire"); empty for others.
  std::string serverType;
};

// The plugin type of this program's virtual mixer devices.
constexpr const char* kVirtualMixerType = "calvora";

// The name a sound server's mixer is shown by, or empty for a type that is no sound server.
// The "pulse" type is PipeWire's when PipeWire serves the PulseAudio protocol.
std::string SoundServerName(const std::string& ctlType);

// The candidates in device order, from the configuration tree and the cards present.
std::vector<MixerCandidate> MixerCandidates(snd_config_t* top);

}  // namespace calvora::platform::alsa
