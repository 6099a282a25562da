#pragma once
// Which ALSA devices are capture devices, in what order, and what each is called:
//   1. the machine's hardware capture devices, one per card and PCM device that can record,
//      named "card name: device name";
//   2. the devices the configuration declares: "default", and those with a description (JACK's
//      only while a JACK server runs), named by the first line of their description; the pulse
//      plugin's device is named after whichever server answers it.
// Each name is trimmed, cut and numbered as AlsaDeviceNames.h says, so no two are alike.
#include <alsa/asoundlib.h>

#include <string>
#include <vector>

namespace calvora::platform::alsa {

struct CaptureDevice {
  std::string Name;       // the name shown to the user, distinct among the devices
  std::string ProbeName;  // opened to read the formats the device records natively
  std::string OpenName;   // opened to record
  // A device of this program's virtual card: it has no other sign of coming and going than
  // its own files, so it is probed on every refresh; probing it costs no more than reading
  // those files.
  bool ProbedEveryRefresh = false;
};

// The capture devices in device order, from the cards present and the configuration tree.
std::vector<CaptureDevice> CaptureDevices(snd_config_t* top);

}  // namespace calvora::platform::alsa
