#pragma once
// What the program does for the options that need no window: --list-devices prints the
// capture devices and mixer devices that the settings dialog offers, --help and --version
// what users expect. None of them opens the window, so they run without a display.
#include <cstdio>
#include <functional>
#include <optional>
#include <string>

#include "platform/MixerDevices.h"
#include "platform/WaveInput.h"

namespace calvora::app {

// Prints the device listing with the platform's own services, made only when asked for.
using DeviceListingPrinter = std::function<void(std::FILE* out)>;

// The exit status when argv asks for one of these options, after doing it; nothing when the
// program should start its window. The help names `settingsFile`, the file this copy reads.
std::optional<int> RunWithoutWindow(int argc, char** argv, const DeviceListingPrinter& listing,
                                    const std::string& settingsFile, std::FILE* out = stdout);

// Prints every capture device that records 16-bit stereo at 44.1 kHz, with its formats, and
// every mixer device with its roots and lines and their volume and switch, by the names and
// positions the settings keep.
void PrintDeviceListing(platform::WaveInput& waveInput, platform::MixerDevices& mixerDevices,
                        std::FILE* out);

}  // namespace calvora::app
