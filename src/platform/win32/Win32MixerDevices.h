#pragma once
// The mixer devices of the Windows mixer API (mixerGetDevCaps, mixerGetLineInfo,
// mixerGetLineControls, mixerGetControlDetails, mixerSetControlDetails), addressed by device
// number without opening a handle. Values are read and written as one uniform value for all
// channels; names come back as UTF-8.
#include "platform/MixerDevices.h"

namespace calvora::platform::win32 {

class Win32MixerDevices : public MixerDevices {
 public:
  uint32_t DeviceCount() override;
  Result GetDeviceCaps(uint32_t device, MixerDeviceCaps& caps) override;
  Result GetDestinationLine(uint32_t device, uint32_t destination, MixerLineInfo& line) override;
  Result GetSourceLine(uint32_t device, uint32_t destination, uint32_t source,
                       MixerLineInfo& line) override;
  Result GetLineControls(uint32_t device, uint32_t lineId, uint32_t count,
                         std::vector<MixerControlInfo>& controls) override;
  Result GetControlValue(uint32_t device, uint32_t controlId, uint32_t& value) override;
  Result SetControlValue(uint32_t device, uint32_t controlId, uint32_t value) override;
};

}  // namespace calvora::platform::win32
