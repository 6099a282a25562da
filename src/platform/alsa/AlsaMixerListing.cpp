#include "platform/alsa/AlsaMixerListing.h"

#include "platform/alsa/AlsaDeclaredDevices.h"
#include "platform/alsa/PulseServerIdentity.h"

namespace calvora::platform::alsa {

std::string SoundServerName(const std::string& ctlType) {
  if (ctlType == "pulse")
    return PulseServerName();
  if (ctlType == "pipewire")
    return "PipeWire";
  return {};
}

std::vector<MixerCandidate> MixerCandidates(snd_config_t* top) {
  std::vector<MixerCandidate> candidates;
  int card = -1;
  while (snd_card_next(&card) == 0 && card >= 0)
    candidates.push_back({"hw:" + std::to_string(card), {}, false, {}});

  const std::vector<std::string> declared = DeclaredNames(top, "ctl");
  std::vector<std::string> types;
  types.reserve(declared.size());
  for (const std::string& name : declared)
    types.push_back(DeclaredType(top, "ctl", name));

  // The server behind "default" is the one the desktop's own mixer shows; the same server
  // declared again under its own name would be a second device for the same volumes.
  const std::string defaultType = DeclaredType(top, "ctl", "default");
  const std::string defaultServer = SoundServerName(defaultType);
  if (!defaultServer.empty()) {
    candidates.push_back({"default", defaultServer, false, defaultType});
  } else {
    for (size_t i = 0; i < declared.size(); ++i) {
      const std::string server = SoundServerName(types[i]);
      if (!server.empty() && declared[i] != "default")
        candidates.push_back({declared[i], server, false, types[i]});
    }
  }
  for (size_t i = 0; i < declared.size(); ++i)
    if (types[i] == kVirtualMixerType)
      candidates.push_back({declared[i], {}, true, {}});
  return candidates;
}

}  // namespace calvora::platform::alsa
