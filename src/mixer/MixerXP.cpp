#include "mixer/MixerXP.h"

#include <memory>
#include <optional>
#include <vector>

#include "platform/Utf8Text.h"

namespace calvora::mixer {

namespace {

struct ControlSlot {
  bool Present = false;
  uint32_t ControlId = 0;
  uint32_t ControlType = 0;
  uint32_t ItemCount = 0;
};

struct LineEntry {
  std::string Name;
  uint32_t ComponentType = 0;
  uint32_t Connections = 0;
  uint32_t ControlCount = 0;
  uint32_t Channels = 0;
  uint32_t LineId = 0;
  ControlSlot Volume;
  ControlSlot Mute;
};

struct RootEntry {
  std::string Name;
  uint32_t DestinationIndex = 0;
  std::vector<LineEntry> LineList;
};

struct DeviceEntry {
  std::string Name;
  uint32_t MixerId = 0;
  uint32_t RootCount = 0;
  std::optional<std::vector<RootEntry>> RootList;
};

struct DeviceTree {
  platform::MixerDevices* devices = nullptr;
  std::vector<DeviceEntry> DeviceList;
};

// Absent until the first LoadMixerDevices and after FreeMixerDevices.
std::unique_ptr<DeviceTree> tree;

void OfferLine(RootEntry& root, const platform::MixerLineInfo& info) {
  if (info.controls == 0)
    return;
  LineEntry line;
  line.Name = platform::CutToChars(info.name, kMaxLineNameLength);
  line.ComponentType = info.componentType;
  line.Connections = info.connections;
  line.ControlCount = info.controls;
  line.Channels = info.channels;
  line.LineId = info.lineId;
  root.LineList.push_back(std::move(line));
}

void LoadControls(platform::MixerDevices& devices, uint32_t mixerId, LineEntry& line) {
  std::vector<platform::MixerControlInfo> controls;
  if (devices.GetLineControls(mixerId, line.LineId, line.ControlCount, controls) != 0)
    return;
  for (const auto& control : controls) {
    ControlSlot* slot = nullptr;
    if (control.controlType == platform::kMixerControlVolume)
      slot = &line.Volume;
    if (control.controlType == platform::kMixerControlMute)
      slot = &line.Mute;
    if (slot == nullptr)
      continue;
    slot->Present = true;
    slot->ControlId = control.controlId;
    slot->ControlType = control.controlType;
    slot->ItemCount = control.itemCount;
  }
}

const DeviceEntry* FindDevice(int32_t device) {
  if (!tree || device < 0 || static_cast<size_t>(device) >= tree->DeviceList.size())
    return nullptr;
  return &tree->DeviceList[static_cast<size_t>(device)];
}

const RootEntry* FindRoot(int32_t device, int32_t root) {
  const DeviceEntry* entry = FindDevice(device);
  if (entry == nullptr || !entry->RootList || root < 0 ||
      static_cast<size_t>(root) >= entry->RootList->size())
    return nullptr;
  return &(*entry->RootList)[static_cast<size_t>(root)];
}

const LineEntry* FindLine(int32_t device, int32_t root, int32_t line) {
  const RootEntry* entry = FindRoot(device, root);
  if (entry == nullptr || line < 0 || static_cast<size_t>(line) >= entry->LineList.size())
    return nullptr;
  return &entry->LineList[static_cast<size_t>(line)];
}

// A resolved control: the device's number and the control's id.
struct ControlRef {
  uint32_t mixerId = 0;
  uint32_t controlId = 0;
};

std::optional<ControlRef> ResolveControl(int32_t device, int32_t root, int32_t line, bool mute) {
  const LineEntry* entry = FindLine(device, root, line);
  if (entry == nullptr)
    return std::nullopt;
  const ControlSlot& slot = mute ? entry->Mute : entry->Volume;
  if (!slot.Present)
    return std::nullopt;
  return ControlRef{tree->DeviceList[static_cast<size_t>(device)].MixerId, slot.ControlId};
}

// Reads a control; false when the device does not answer.
bool ReadControl(const ControlRef& control, uint32_t& value) {
  return tree->devices->GetControlValue(control.mixerId, control.controlId, value) == 0;
}

int32_t VolumeValue(uint32_t value) {
  return static_cast<int32_t>(value > 65535 ? 65535 : value);
}
bool MuteValue(uint32_t value) {
  return static_cast<int32_t>(value) > 0;
}

}  // namespace

void LoadMixerDevices(platform::MixerDevices& devices) {
  FreeMixerDevices();
  tree = std::make_unique<DeviceTree>();
  tree->devices = &devices;
  const uint32_t count = devices.DeviceCount();
  for (uint32_t id = 0; id < count; ++id) {
    platform::MixerDeviceCaps caps;
    if (devices.GetDeviceCaps(id, caps) != 0)
      continue;
    DeviceEntry entry;
    entry.Name = platform::CutToChars(caps.name, kMaxDeviceNameLength);
    entry.MixerId = id;
    entry.RootCount = caps.destinations;
    tree->DeviceList.push_back(std::move(entry));
  }
}

void LoadMixerLines() {
  if (!tree)
    return;
  platform::MixerDevices& devices = *tree->devices;
  for (DeviceEntry& device : tree->DeviceList) {
    device.RootList.emplace();
    for (uint32_t d = 0; d < device.RootCount; ++d) {
      platform::MixerLineInfo destination;
      if (devices.GetDestinationLine(device.MixerId, d, destination) != 0)
        continue;
      RootEntry root;
      root.Name = platform::CutToChars(destination.name, kMaxLineNameLength);
      root.DestinationIndex = d;
      OfferLine(root, destination);
      for (uint32_t s = 0; s < destination.connections; ++s) {
        platform::MixerLineInfo source;
        if (devices.GetSourceLine(device.MixerId, d, s, source) == 0)
          OfferLine(root, source);
      }
      device.RootList->push_back(std::move(root));
    }
    for (RootEntry& root : *device.RootList)
      for (LineEntry& line : root.LineList)
        LoadControls(devices, device.MixerId, line);
  }
}

void FreeMixerDevices() {
  tree.reset();
}

int32_t MixerDeviceCount() {
  return tree ? static_cast<int32_t>(tree->DeviceList.size()) : 0;
}

std::string MixerDeviceName(int32_t device) {
  const DeviceEntry* entry = FindDevice(device);
  return entry ? entry->Name : std::string();
}

int32_t MixerRootCount(int32_t device) {
  const DeviceEntry* entry = FindDevice(device);
  return entry ? static_cast<int32_t>(entry->RootCount) : 0;
}

std::string MixerRootName(int32_t device, int32_t root) {
  const RootEntry* entry = FindRoot(device, root);
  return entry ? entry->Name : std::string();
}

int32_t MixerLineCount(int32_t device, int32_t root) {
  const RootEntry* entry = FindRoot(device, root);
  return entry ? static_cast<int32_t>(entry->LineList.size()) : 0;
}

std::string MixerLineName(int32_t device, int32_t root, int32_t line) {
  const LineEntry* entry = FindLine(device, root, line);
  return entry ? entry->Name : std::string();
}

int32_t GetLineVolume(int32_t device, int32_t root, int32_t line) {
  const auto control = ResolveControl(device, root, line, false);
  uint32_t value = 0;
  // A failed read counts as silence rather than whatever the buffer held.
  if (!control || !ReadControl(*control, value))
    return 0;
  return VolumeValue(value);
}

bool SetLineVolume(int32_t device, int32_t root, int32_t line, int32_t value, bool verify) {
  const auto control = ResolveControl(device, root, line, false);
  if (!control)
    return false;
  const int32_t clamped = value < 0 ? 0 : (value > 65535 ? 65535 : value);
  // The write's own result is not examined: a device that has gone away takes it silently.
  tree->devices->SetControlValue(control->mixerId, control->controlId,
                                 static_cast<uint32_t>(clamped));
  if (!verify)
    return true;
  // Only a value actually read back confirms the write: a device that no longer answers
  // must not pass for one that holds 0.
  uint32_t readBack = 0;
  return ReadControl(*control, readBack) && VolumeValue(readBack) == clamped;
}

bool GetLineMute(int32_t device, int32_t root, int32_t line) {
  const auto control = ResolveControl(device, root, line, true);
  uint32_t value = 0;
  if (!control || !ReadControl(*control, value))
    return false;
  return MuteValue(value);
}

bool SetLineMute(int32_t device, int32_t root, int32_t line, bool mute, bool verify) {
  const auto control = ResolveControl(device, root, line, true);
  if (!control)
    return false;
  tree->devices->SetControlValue(control->mixerId, control->controlId, mute ? 1u : 0u);
  if (!verify)
    return true;
  uint32_t readBack = 0;
  return ReadControl(*control, readBack) && MuteValue(readBack) == mute;
}

}  // namespace calvora::mixer
