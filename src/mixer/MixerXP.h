#pragma once
// The process-wide tree of mixer devices, their root (destination) lines, the controllable
// lines under each root and each line's volume and mute controls. Lines are addressed by
// their positions in this tree, never by the platform's identifiers. Levels and mute states
// are not cached: every read and write goes to the device.
#include <cstdint>
#include <string>

#include "platform/MixerDevices.h"

namespace calvora::mixer {

// One mixer line by its positions in the tree: device, root of that device, line of that root.
struct MixerLineAddress {
  int32_t Device = -1;
  int32_t Root = -1;
  int32_t Line = -1;
};

// Longest names kept, in characters; longer names are cut.
constexpr size_t kMaxDeviceNameLength = 32;
constexpr size_t kMaxLineNameLength = 64;

// Rebuilds the tree from scratch with device entries only (no roots yet), reading them from
// the given devices, which the tree keeps using until it is freed.
void LoadMixerDevices(platform::MixerDevices& devices);
// Fills in the roots, lines and controls of every device in the tree. Does nothing when no
// tree exists.
void LoadMixerLines();
// Frees the whole tree. Harmless when there is none.
void FreeMixerDevices();

int32_t MixerDeviceCount();
std::string MixerDeviceName(int32_t device);
// The number of roots the device reports, which can exceed the roots actually listed.
int32_t MixerRootCount(int32_t device);
std::string MixerRootName(int32_t device, int32_t root);
int32_t MixerLineCount(int32_t device, int32_t root);
std::string MixerLineName(int32_t device, int32_t root, int32_t line);

// Volume 0..65535; 0 when the line has no volume control or cannot be read.
int32_t GetLineVolume(int32_t device, int32_t root, int32_t line);
// Writes the value clamped to 0..65535. False when the line has no volume control; with
// verify, also false when the device does not read back the written value.
bool SetLineVolume(int32_t device, int32_t root, int32_t line, int32_t value, bool verify);
// True when the line's mute switch is on; false when it has none.
bool GetLineMute(int32_t device, int32_t root, int32_t line);
bool SetLineMute(int32_t device, int32_t root, int32_t line, bool mute, bool verify);

}  // namespace calvora::mixer
