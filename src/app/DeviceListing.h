#pragma once
// What the program does for the options that need no window: --list-devices prints the
// capture devices and mixer devices that the settings dialog offers, --help and --version
// what users expect. None of them starts Qt, so they run without a display.
#include <cstdio>
#include <optional>

namespace calvora::app {

// The exit status when argv asks for one of these options, after doing it; nothing when the
// program should start its window.
std::optional<int> RunWithoutWindow(int argc, char** argv, std::FILE* out = stdout);

// Prints every capture device that records 16-bit stereo at 44.1 kHz, with its formats, and
// every mixer device with its roots and lines and their volume and switch, by the names and
// positions the settings keep.
void PrintDeviceListing(std::FILE* out);

}  // namespace calvora::app
