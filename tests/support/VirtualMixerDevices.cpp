#include "VirtualMixerDevices.h"

namespace calvora::testing {

using platform::Result;
namespace result = platform::result;

uint32_t VirtualMixerDevices::AddDevice(const std::string& name) {
  devices.push_back(Device{name, false, false, false, {}, {}});
  return static_cast<uint32_t>(devices.size() - 1);
}

namespace {
void AddControls(VirtualMixerDevices& mixer, uint32_t device, uint32_t destination, int32_t source,
                 VirtualMixerDevices::Controls controls) {
  using C = VirtualMixerDevices::Controls;
  if (controls == C::kVolume || controls == C::kBoth)
    mixer.AddControl(device, destination, source, platform::kMixerControlVolume);
  if (controls == C::kMute || controls == C::kBoth)
    mixer.AddControl(device, destination, source, platform::kMixerControlMute);
}
}  // namespace

uint32_t VirtualMixerDevices::AddDestination(uint32_t device, const std::string& name,
                                             Controls controls) {
  Destination destination;
  destination.line.info.name = name;
  destination.line.info.lineId = nextId_++;
  destination.line.info.channels = 2;
  auto& list = devices.at(device).destinations;
  list.push_back(destination);
  const auto index = static_cast<uint32_t>(list.size() - 1);
  AddControls(*this, device, index, -1, controls);
  return index;
}

uint32_t VirtualMixerDevices::AddSource(uint32_t device, uint32_t destination,
                                        const std::string& name, Controls controls) {
  Line line;
  line.info.name = name;
  line.info.lineId = nextId_++;
  line.info.channels = 2;
  auto& dest = devices.at(device).destinations.at(destination);
  dest.sources.push_back(line);
  dest.line.info.connections = static_cast<uint32_t>(dest.sources.size());
  const auto index = static_cast<int32_t>(dest.sources.size() - 1);
  AddControls(*this, device, destination, index, controls);
  return static_cast<uint32_t>(index);
}

VirtualMixerDevices::Line& VirtualMixerDevices::LineAt(uint32_t device, uint32_t destination,
                                                       int32_t source) {
  auto& dest = devices.at(device).destinations.at(destination);
  return source < 0 ? dest.line : dest.sources.at(static_cast<size_t>(source));
}

uint32_t VirtualMixerDevices::AddControl(uint32_t device, uint32_t destination, int32_t source,
                                         uint32_t type) {
  Line& line = LineAt(device, destination, source);
  const uint32_t id = nextId_++;
  line.controls.push_back({id, type, 0});
  line.info.controls = static_cast<uint32_t>(line.controls.size());
  devices.at(device).values[id] = 0;
  return id;
}

uint32_t VirtualMixerDevices::ControlOfType(uint32_t device, uint32_t destination, int32_t source,
                                            uint32_t type) {
  uint32_t id = 0;
  for (const auto& control : LineAt(device, destination, source).controls)
    if (control.controlType == type)
      id = control.controlId;
  return id;
}

uint32_t VirtualMixerDevices::VolumeId(uint32_t device, uint32_t destination, int32_t source) {
  return ControlOfType(device, destination, source, platform::kMixerControlVolume);
}
uint32_t VirtualMixerDevices::MuteId(uint32_t device, uint32_t destination, int32_t source) {
  return ControlOfType(device, destination, source, platform::kMixerControlMute);
}
uint32_t VirtualMixerDevices::Volume(uint32_t device, uint32_t destination, int32_t source) {
  return devices.at(device).values[VolumeId(device, destination, source)];
}
bool VirtualMixerDevices::Muted(uint32_t device, uint32_t destination, int32_t source) {
  return devices.at(device).values[MuteId(device, destination, source)] != 0;
}
void VirtualMixerDevices::SetVolume(uint32_t device, uint32_t destination, int32_t source,
                                    uint32_t value) {
  devices.at(device).values[VolumeId(device, destination, source)] = value;
}
void VirtualMixerDevices::SetMuted(uint32_t device, uint32_t destination, int32_t source,
                                   bool muted) {
  devices.at(device).values[MuteId(device, destination, source)] = muted ? 1 : 0;
}

uint32_t VirtualMixerDevices::DeviceCount() {
  ++calls;
  return static_cast<uint32_t>(devices.size());
}

Result VirtualMixerDevices::GetDeviceCaps(uint32_t device, platform::MixerDeviceCaps& caps) {
  ++calls;
  if (device >= devices.size() || devices[device].capsFails)
    return result::kBadDeviceId;
  caps.name = devices[device].name;
  caps.destinations = reportedDestinations != UINT32_MAX
                          ? reportedDestinations
                          : static_cast<uint32_t>(devices[device].destinations.size());
  return result::kOk;
}

Result VirtualMixerDevices::GetDestinationLine(uint32_t device, uint32_t destination,
                                               platform::MixerLineInfo& line) {
  ++calls;
  if (device >= devices.size() || destination >= devices[device].destinations.size())
    return result::kInvalidParam;
  const Line& entry = devices[device].destinations[destination].line;
  if (entry.queryFails)
    return result::kError;
  line = entry.info;
  return result::kOk;
}

Result VirtualMixerDevices::GetSourceLine(uint32_t device, uint32_t destination, uint32_t source,
                                          platform::MixerLineInfo& line) {
  ++calls;
  if (device >= devices.size() || destination >= devices[device].destinations.size() ||
      source >= devices[device].destinations[destination].sources.size())
    return result::kInvalidParam;
  const Line& entry = devices[device].destinations[destination].sources[source];
  if (entry.queryFails)
    return result::kError;
  line = entry.info;
  return result::kOk;
}

const VirtualMixerDevices::Line* VirtualMixerDevices::FindLineById(uint32_t device,
                                                                   uint32_t lineId) const {
  for (const auto& dest : devices[device].destinations) {
    if (dest.line.info.lineId == lineId)
      return &dest.line;
    for (const auto& source : dest.sources)
      if (source.info.lineId == lineId)
        return &source;
  }
  return nullptr;
}

Result VirtualMixerDevices::GetLineControls(uint32_t device, uint32_t lineId, uint32_t count,
                                            std::vector<platform::MixerControlInfo>& controls) {
  ++calls;
  if (device >= devices.size())
    return result::kBadDeviceId;
  const Line* line = FindLineById(device, lineId);
  if (line == nullptr || line->controlsFail || count != line->controls.size())
    return result::kInvalidParam;
  controls = line->controls;
  return result::kOk;
}

Result VirtualMixerDevices::GetControlValue(uint32_t device, uint32_t controlId, uint32_t& value) {
  ++calls;
  if (device >= devices.size())
    return result::kBadDeviceId;
  if (devices[device].readsFail)
    return result::kNoDriver;
  auto it = devices[device].values.find(controlId);
  if (it == devices[device].values.end())
    return result::kInvalidParam;
  value = it->second;
  return result::kOk;
}

Result VirtualMixerDevices::SetControlValue(uint32_t device, uint32_t controlId, uint32_t value) {
  ++calls;
  writes.push_back({device, controlId, value});
  if (device >= devices.size())
    return result::kBadDeviceId;
  auto it = devices[device].values.find(controlId);
  if (it == devices[device].values.end())
    return result::kInvalidParam;
  if (!devices[device].ignoresWrites)
    it->second = value;
  return result::kOk;
}

}  // namespace calvora::testing
