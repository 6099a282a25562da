#pragma once
// The system's audio mixer devices: each device has destination lines ("roots"), each
// destination has source lines, and each line has controls. A device is addressed by its
// number (0 to DeviceCount() - 1), a line by the id the device gave it, a control likewise.
// Every call returns 0 (result::kOk) for success, otherwise a result code.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Result.h"

namespace calvora::platform {

// Control types the mixer code recognises; others are reported with their own numbers.
constexpr uint32_t kMixerControlVolume = 0x50030001;  // unsigned level 0..65535
constexpr uint32_t kMixerControlMute = 0x20010002;    // boolean, non-zero when muted

struct MixerDeviceCaps {
  std::string name;           // product name shown to the user
  uint32_t destinations = 0;  // number of destination lines
};

struct MixerLineInfo {
  std::string name;
  uint32_t lineId = 0;
  uint32_t componentType = 0;
  uint32_t channels = 0;
  uint32_t connections = 0;  // for a destination: its number of source lines
  uint32_t controls = 0;
};

struct MixerControlInfo {
  uint32_t controlId = 0;
  uint32_t controlType = 0;
  uint32_t itemCount = 0;
};

class MixerDevices {
 public:
  virtual ~MixerDevices() = default;

  // Number of mixer devices present now.
  virtual uint32_t DeviceCount() = 0;
  virtual Result GetDeviceCaps(uint32_t device, MixerDeviceCaps& caps) = 0;
  virtual Result GetDestinationLine(uint32_t device, uint32_t destination, MixerLineInfo& line) = 0;
  virtual Result GetSourceLine(uint32_t device, uint32_t destination, uint32_t source,
                               MixerLineInfo& line) = 0;
  // All controls of a line; count is the line's control count as reported.
  virtual Result GetLineControls(uint32_t device, uint32_t lineId, uint32_t count,
                                 std::vector<MixerControlInfo>& controls) = 0;

  // One uniform value for all channels of a control. Volumes are 0..65535; a mute control
  // reads and takes 1 for muted and 0 for not muted.
  virtual Result GetControlValue(uint32_t device, uint32_t controlId, uint32_t& value) = 0;
  virtual Result SetControlValue(uint32_t device, uint32_t controlId, uint32_t value) = 0;
};

}  // namespace calvora::platform
