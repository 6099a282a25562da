#include "platform/alsa/AlsaCaptureListing.h"

#include <cstdlib>
#include <cstring>
#include <set>

#include "platform/alsa/AlsaDeclaredDevices.h"
#include "platform/alsa/AlsaDeviceNames.h"
#include "platform/alsa/JackServerPresence.h"
#include "platform/alsa/PulseServerIdentity.h"

namespace calvora::platform::alsa {

namespace {

// The plugin type of this program's virtual capture devices.
constexpr const char* kVirtualCaptureType = "calvora_capture";
// JACK's capture device, listed only while a JACK server runs (JackServerPresence.h).
constexpr const char* kJackType = "jack";
constexpr const char* kPulseType = "pulse";
constexpr const char* kPulseAudio = "PulseAudio";

std::string FirstLine(const char* text) {
  if (text == nullptr)
    return {};
  const char* end = std::strchr(text, '\n');
  return end ? std::string(text, end) : std::string(text);
}

// Hardware capture devices, one per card and PCM device that can record.
void ListHardware(std::vector<CaptureDevice>& out) {
  int card = -1;
  while (snd_card_next(&card) >= 0 && card >= 0) {
    snd_ctl_t* ctl = nullptr;
    const std::string ctlName = "hw:" + std::to_string(card);
    if (snd_ctl_open(&ctl, ctlName.c_str(), 0) < 0)
      continue;
    snd_ctl_card_info_t* cardInfo = nullptr;
    snd_ctl_card_info_alloca(&cardInfo);
    if (snd_ctl_card_info(ctl, cardInfo) < 0) {
      snd_ctl_close(ctl);
      continue;
    }
    const std::string cardName = snd_ctl_card_info_get_name(cardInfo);
    int pcmDevice = -1;
    while (snd_ctl_pcm_next_device(ctl, &pcmDevice) >= 0 && pcmDevice >= 0) {
      snd_pcm_info_t* info = nullptr;
      snd_pcm_info_alloca(&info);
      snd_pcm_info_set_device(info, static_cast<unsigned>(pcmDevice));
      snd_pcm_info_set_subdevice(info, 0);
      snd_pcm_info_set_stream(info, SND_PCM_STREAM_CAPTURE);
      if (snd_ctl_pcm_info(ctl, info) < 0)
        continue;
      const std::string address = std::to_string(card) + "," + std::to_string(pcmDevice);
      out.push_back(
          {cardName + ": " + snd_pcm_info_get_name(info), "hw:" + address, "plughw:" + address});
    }
    snd_ctl_close(ctl);
  }
}

// The devices the configuration declares: "default", and those with a description (JACK's only
// while a JACK server runs).
void ListConfigured(snd_config_t* top, std::vector<CaptureDevice>& out) {
  void** hints = nullptr;
  if (snd_device_name_hint(-1, "pcm", &hints) < 0)
    return;
  for (void** hint = hints; *hint != nullptr; ++hint) {
    char* name = snd_device_name_get_hint(*hint, "NAME");
    char* description = snd_device_name_get_hint(*hint, "DESC");
    char* direction = snd_device_name_get_hint(*hint, "IOID");
    const bool canRecord = direction == nullptr || std::strcmp(direction, "Input") == 0;
    // Names with arguments are the per-card variants of the hardware listed above; "null"
    // records nothing but zeros.
    const std::string type = name != nullptr ? DeclaredType(top, "pcm", name) : std::string();
    if (name != nullptr && canRecord && std::strchr(name, ':') == nullptr &&
        std::strcmp(name, "null") != 0 && (type != kJackType || JackServerRuns())) {
      const std::string pcm = name;
      std::string shown = pcm == "default" || description == nullptr ? pcm : FirstLine(description);
      // The pulse plugin's device is described as PulseAudio's whoever serves it.
      if (type == kPulseType && shown.rfind(kPulseAudio, 0) == 0)
        shown = PulseServerName() + shown.substr(std::strlen(kPulseAudio));
      out.push_back({shown, pcm, pcm, type == kVirtualCaptureType});
    }
    std::free(name);
    std::free(description);
    std::free(direction);
  }
  snd_device_name_free_hint(hints);
}

}  // namespace

std::vector<CaptureDevice> CaptureDevices(snd_config_t* top) {
  std::vector<CaptureDevice> devices;
  ListHardware(devices);
  ListConfigured(top, devices);
  std::set<std::string> taken;
  for (CaptureDevice& device : devices) {
    device.Name =
        NumberedDeviceName(ShownDeviceName(device.Name, device.OpenName),
                           [&](const std::string& name) { return taken.count(name) != 0; });
    taken.insert(device.Name);
  }
  return devices;
}

}  // namespace calvora::platform::alsa
