#include "platform/win32/Win32MixerDevices.h"

// clang-format off
#include <windows.h>
#include <mmsystem.h>
// clang-format on

#include "platform/win32/WideText.h"

namespace calvora::platform::win32 {

namespace {

// A device by number, as the mixer functions take it with MIXER_OBJECTF_MIXER.
HMIXEROBJ ByNumber(uint32_t device) {
  return reinterpret_cast<HMIXEROBJ>(static_cast<uintptr_t>(device));
}

Result GetLine(uint32_t device, MIXERLINEW& found, DWORD how, MixerLineInfo& line) {
  found.cbStruct = sizeof found;
  const MMRESULT code = mixerGetLineInfoW(ByNumber(device), &found, how | MIXER_OBJECTF_MIXER);
  if (code != MMSYSERR_NOERROR)
    return static_cast<Result>(code);
  line.name = Narrow(found.szName);
  line.lineId = found.dwLineID;
  line.componentType = found.dwComponentType;
  line.channels = found.cChannels;
  line.connections = found.cConnections;
  line.controls = found.cControls;
  return result::kOk;
}

// One uniform value: the volume's unsigned value or the mute's boolean, both four bytes.
MIXERCONTROLDETAILS UniformDetails(uint32_t controlId, DWORD& value) {
  MIXERCONTROLDETAILS details{};
  details.cbStruct = sizeof details;
  details.dwControlID = controlId;
  details.cChannels = 1;
  details.cbDetails = sizeof value;
  details.paDetails = &value;
  return details;
}

}  // namespace

uint32_t Win32MixerDevices::DeviceCount() {
  return mixerGetNumDevs();
}

Result Win32MixerDevices::GetDeviceCaps(uint32_t device, MixerDeviceCaps& caps) {
  MIXERCAPSW found{};
  const MMRESULT code = mixerGetDevCapsW(device, &found, sizeof found);
  if (code != MMSYSERR_NOERROR)
    return static_cast<Result>(code);
  caps.name = Narrow(found.szPname);
  caps.destinations = found.cDestinations;
  return result::kOk;
}

Result Win32MixerDevices::GetDestinationLine(uint32_t device, uint32_t destination,
                                             MixerLineInfo& line) {
  MIXERLINEW found{};
  found.dwDestination = destination;
  return GetLine(device, found, MIXER_GETLINEINFOF_DESTINATION, line);
}

Result Win32MixerDevices::GetSourceLine(uint32_t device, uint32_t destination, uint32_t source,
                                        MixerLineInfo& line) {
  MIXERLINEW found{};
  found.dwDestination = destination;
  found.dwSource = source;
  return GetLine(device, found, MIXER_GETLINEINFOF_SOURCE, line);
}

Result Win32MixerDevices::GetLineControls(uint32_t device, uint32_t lineId, uint32_t count,
                                          std::vector<MixerControlInfo>& controls) {
  controls.clear();
  if (count == 0)
    return result::kOk;
  std::vector<MIXERCONTROLW> found(count);
  MIXERLINECONTROLSW request{};
  request.cbStruct = sizeof request;
  request.dwLineID = lineId;
  request.cControls = count;
  request.cbmxctrl = sizeof(MIXERCONTROLW);
  request.pamxctrl = found.data();
  const MMRESULT code = mixerGetLineControlsW(ByNumber(device), &request,
                                              MIXER_GETLINECONTROLSF_ALL | MIXER_OBJECTF_MIXER);
  if (code != MMSYSERR_NOERROR)
    return static_cast<Result>(code);
  for (const MIXERCONTROLW& control : found)
    controls.push_back({control.dwControlID, control.dwControlType, control.cMultipleItems});
  return result::kOk;
}

Result Win32MixerDevices::GetControlValue(uint32_t device, uint32_t controlId, uint32_t& value) {
  DWORD read = 0;
  MIXERCONTROLDETAILS details = UniformDetails(controlId, read);
  const MMRESULT code = mixerGetControlDetailsW(
      ByNumber(device), &details, MIXER_GETCONTROLDETAILSF_VALUE | MIXER_OBJECTF_MIXER);
  if (code != MMSYSERR_NOERROR)
    return static_cast<Result>(code);
  value = read;
  return result::kOk;
}

Result Win32MixerDevices::SetControlValue(uint32_t device, uint32_t controlId, uint32_t value) {
  DWORD written = value;
  MIXERCONTROLDETAILS details = UniformDetails(controlId, written);
  return static_cast<Result>(mixerSetControlDetails(
      ByNumber(device), &details, MIXER_SETCONTROLDETAILSF_VALUE | MIXER_OBJECTF_MIXER));
}

}  // namespace calvora::platform::win32
