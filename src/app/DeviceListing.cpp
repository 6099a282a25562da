#include "app/DeviceListing.h"

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "app/Main.h"
#include "audio/WaveCapture.h"
#include "mixer/MixerXP.h"

namespace calvora::app {

namespace {

// The mixer devices, noting which controls each line has. The tree asks for the controls of
// every line it lists exactly once and in its own order, so the notes follow that order.
class ControlNotingDevices : public platform::MixerDevices {
 public:
  struct Controls {
    bool volume = false;
    bool mute = false;
  };

  explicit ControlNotingDevices(platform::MixerDevices& devices) : devices_(devices) {}

  uint32_t DeviceCount() override { return devices_.DeviceCount(); }
  platform::Result GetDeviceCaps(uint32_t device, platform::MixerDeviceCaps& caps) override {
    return devices_.GetDeviceCaps(device, caps);
  }
  platform::Result GetDestinationLine(uint32_t device, uint32_t destination,
                                      platform::MixerLineInfo& line) override {
    return devices_.GetDestinationLine(device, destination, line);
  }
  platform::Result GetSourceLine(uint32_t device, uint32_t destination, uint32_t source,
                                 platform::MixerLineInfo& line) override {
    return devices_.GetSourceLine(device, destination, source, line);
  }
  platform::Result GetControlValue(uint32_t device, uint32_t controlId, uint32_t& value) override {
    return devices_.GetControlValue(device, controlId, value);
  }
  platform::Result SetControlValue(uint32_t device, uint32_t controlId, uint32_t value) override {
    return devices_.SetControlValue(device, controlId, value);
  }
  platform::Result GetLineControls(uint32_t device, uint32_t lineId, uint32_t count,
                                   std::vector<platform::MixerControlInfo>& controls) override {
    const platform::Result result = devices_.GetLineControls(device, lineId, count, controls);
    Controls noted;
    for (const auto& control : controls) {
      if (result != platform::result::kOk)
        break;
      noted.volume = noted.volume || control.controlType == platform::kMixerControlVolume;
      noted.mute = noted.mute || control.controlType == platform::kMixerControlMute;
    }
    lines.push_back(noted);
    return result;
  }

  std::vector<Controls> lines;  // in the tree's order of devices, roots and lines

 private:
  platform::MixerDevices& devices_;
};

// "16-bit stereo at 44100, 48000 Hz; 16-bit mono at ..." from the format bits.
std::string Formats(uint32_t bits) {
  namespace f = platform::wave_format;
  struct Kind {
    const char* name;
    uint32_t at11k, at22k, at44k, at48k, at96k;
  };
  static constexpr Kind kKinds[] = {
      {"16-bit stereo", f::k1S16, f::k2S16, f::k4S16, f::k48S16, f::k96S16},
      {"16-bit mono", f::k1M16, f::k2M16, f::k4M16, f::k48M16, f::k96M16},
      {"8-bit stereo", f::k1S08, f::k2S08, f::k4S08, f::k48S08, f::k96S08},
      {"8-bit mono", f::k1M08, f::k2M08, f::k4M08, f::k48M08, f::k96M08},
  };
  std::string text;
  for (const Kind& kind : kKinds) {
    const std::pair<uint32_t, const char*> rates[] = {{kind.at11k, "11025"},
                                                      {kind.at22k, "22050"},
                                                      {kind.at44k, "44100"},
                                                      {kind.at48k, "48000"},
                                                      {kind.at96k, "96000"}};
    std::string list;
    for (const auto& [bit, rate] : rates)
      if ((bits & bit) != 0)
        list += (list.empty() ? "" : ", ") + std::string(rate);
    if (!list.empty())
      text += (text.empty() ? "" : "; ") + std::string(kind.name) + " at " + list + " Hz";
  }
  return text;
}

void PrintCaptureDevices(platform::WaveInput& input, std::FILE* out) {
  audio::TWaveCapture capture(input);
  std::fprintf(out, "Capture devices (the sound card, by the name the settings keep):\n");
  for (const audio::WaveInDevice& device : capture.Devices) {
    platform::WaveInCaps caps;
    input.GetDeviceCaps(static_cast<uint32_t>(device.DeviceID), caps);
    std::fprintf(out, "  \"%s\"  %s\n", device.Name.c_str(), Formats(caps.Formats).c_str());
  }
  if (capture.Devices.empty())
    std::fprintf(out, "  (none)\n");
}

void PrintMixerDevices(platform::MixerDevices& mixerDevices, std::FILE* out) {
  ControlNotingDevices devices(mixerDevices);
  mixer::LoadMixerDevices(devices);
  mixer::LoadMixerLines();
  std::fprintf(out,
               "Mixer devices (by the name the settings keep; roots and lines by position):\n");
  size_t noted = 0;
  for (int32_t device = 0; device < mixer::MixerDeviceCount(); ++device) {
    std::fprintf(out, "  \"%s\"\n", mixer::MixerDeviceName(device).c_str());
    for (int32_t root = 0; root < mixer::MixerRootCount(device); ++root) {
      std::fprintf(out, "    root %d \"%s\"\n", root, mixer::MixerRootName(device, root).c_str());
      for (int32_t line = 0; line < mixer::MixerLineCount(device, root); ++line) {
        const auto controls = noted < devices.lines.size() ? devices.lines[noted++]
                                                           : ControlNotingDevices::Controls{};
        std::string state;
        if (controls.volume) {
          const int32_t volume = mixer::GetLineVolume(device, root, line);
          state += "  volume " + std::to_string(volume) + " (" +
                   std::to_string(std::lround(volume * 100.0 / 65535.0)) + " %)";
        }
        if (controls.mute)
          state += mixer::GetLineMute(device, root, line) ? "  muted" : "  not muted";
        std::fprintf(out, "      line %d \"%s\"%s\n", line,
                     mixer::MixerLineName(device, root, line).c_str(), state.c_str());
      }
    }
  }
  if (mixer::MixerDeviceCount() == 0)
    std::fprintf(out, "  (none)\n");
  mixer::FreeMixerDevices();
}

void PrintHelp(const std::string& settingsFile, std::FILE* out) {
#ifdef _WIN32
  std::fprintf(out,
               "Usage: calvora-audio-mixer [--list-devices | --help | --version]\n"
               "\n"
               "Listens to one sound card, shows its level on an LED meter, detects silence,\n"
               "and mutes or restores mixer lines with fades for the programs that control it\n"
               "with window messages. Without options it starts its window; the settings are\n"
               "kept beside the program, in its path with \".ini\" in place of \".exe\".\n"
               "\n"
               "  --list-devices  print the capture and mixer devices the settings offer\n"
               "  --help          print this help\n"
               "  --version       print the version\n"
               "\n"
               "Settings file: %s\n",
               settingsFile.c_str());
#else
  std::fprintf(out,
               "Usage: calvora-audio-mixer [--list-devices | --help | --version]\n"
               "\n"
               "Listens to one sound card, shows its level on an LED meter, detects silence,\n"
               "and mutes or restores mixer lines with fades for the programs that control it\n"
               "over the session bus. Without options it starts its window.\n"
               "\n"
               "  --list-devices  print the capture and mixer devices the settings offer\n"
               "  --help          print this help\n"
               "  --version       print the version\n"
               "\n"
               "The settings file is the program's path with \".ini\" where the program's folder\n"
               "can be written; otherwise $XDG_CONFIG_HOME/calvora-audio-mixer/\n"
               "calvora-audio-mixer.ini (~/.config by default), which the first start copies\n"
               "from the file beside the program, if there is one.\n"
               "Settings file: %s\n"
               "\n"
               "Environment: CALVORA_DEBUG=1 shows ALSA's own messages on stderr.\n",
               settingsFile.c_str());
#endif
}

}  // namespace

void PrintDeviceListing(platform::WaveInput& waveInput, platform::MixerDevices& mixerDevices,
                        std::FILE* out) {
  PrintCaptureDevices(waveInput, out);
  std::fprintf(out, "\n");
  PrintMixerDevices(mixerDevices, out);
}

std::optional<int> RunWithoutWindow(int argc, char** argv, const DeviceListingPrinter& listing,
                                    const std::string& settingsFile, std::FILE* out) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--list-devices") == 0) {
      listing(out);
      return 0;
    }
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      PrintHelp(settingsFile, out);
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::fprintf(out, "%s %s\n", kProgramTitle, CALVORA_FILE_VERSION);
      return 0;
    }
  }
  return std::nullopt;
}

}  // namespace calvora::app
