#include "mixer/CVMixer.h"

#include <cmath>
#include <exception>

namespace calvora::mixer {

namespace {

// A fader value as a device volume, truncated toward zero. Values that are not numbers or
// lie outside the 32-bit range are taken as 0 or the nearest end rather than left undefined.
int32_t VolumeOf(double value) {
  if (std::isnan(value))
    return 0;
  if (value <= -2147483648.0)
    return INT32_MIN;
  if (value >= 2147483647.0)
    return INT32_MAX;
  return static_cast<int32_t>(value);
}

}  // namespace

TCVMixer::TCVMixer(platform::MixerDevices& devices, platform::Clock& clock,
                   platform::Timers& timers)
    : devices_(devices), clock_(clock), timers_(timers) {
  Reset();
}

TCVMixer::~TCVMixer() {
  SetActive(false);
  FreeMixerDevices();
}

void TCVMixer::Reset() {
  if (active_)
    SetActive(false);
  LoadMixerDevices(devices_);
  DevicesChanged = false;
}

void TCVMixer::CheckDevices() {
  if (static_cast<int64_t>(devices_.DeviceCount()) != MixerDeviceCount() && OnDevicesChanged)
    OnDevicesChanged(*this);
}

void TCVMixer::SetActive(bool active) {
  if (active == active_)
    return;
  if (active) {
    LoadMixerLines();
    nextId_ = 1;
    lineTimer_ = timers_.CreateTimer(kLineTickMs, [this] { LineTick(); });
    lineTimer_->SetEnabled(true);
    controlledLines_.clear();
    active_ = true;
    return;
  }
  lineTimer_.reset();
  // Fades in progress are abandoned where they are: no handler runs.
  while (!controlledLines_.empty())
    controlledLines_.pop_back();
  FreeMixerDevices();
  active_ = false;
}

void TCVMixer::GetDeviceNames(std::vector<std::string>& names) const {
  names.clear();
  for (int32_t device = 0; device < MixerDeviceCount(); ++device)
    names.push_back(MixerDeviceName(device));
}

void TCVMixer::GetRootNames(int32_t device, std::vector<std::string>& names) const {
  names.clear();
  for (int32_t root = 0; root < MixerRootCount(device); ++root)
    names.push_back(MixerRootName(device, root));
}

void TCVMixer::GetLineNames(int32_t device, int32_t root, std::vector<std::string>& names) const {
  names.clear();
  for (int32_t line = 0; line < MixerLineCount(device, root); ++line)
    names.push_back(MixerLineName(device, root, line));
}

ControlledLineId TCVMixer::AddLine(int32_t group, int32_t device, int32_t root, int32_t line) {
  if (device < 0 || device >= MixerDeviceCount() || root < 0 || root >= MixerRootCount(device) ||
      line < 0 || line >= MixerLineCount(device, root))
    return -1;
  if (!active_)
    return -1;
  try {
    auto entry = std::make_unique<ControlledLine>();
    entry->Device = device;
    entry->Root = root;
    entry->Line = line;
    entry->Level = GetLineVolume(device, root, line);
    entry->Group = group;
    entry->Id = nextId_;
    entry->Fader = std::make_unique<TCVFader>(clock_, timers_);
    entry->Fader->SetValue(entry->Level);
    controlledLines_.push_back(std::move(entry));
  } catch (const std::exception&) {
    return -1;
  }
  return nextId_++;
}

void TCVMixer::RemoveLine(ControlledLineId id) {
  ControlledLine* entry = FindLine(id);
  if (entry == nullptr)
    return;
  entry->Group = -1;
  entry->RemovePending = true;
}

void TCVMixer::RemoveGroup(int32_t group) {
  for (auto& entry : controlledLines_)
    if (entry->Group == group)
      RemoveLine(entry->Id);
}

ControlledLine* TCVMixer::FindLine(ControlledLineId id) {
  for (auto& entry : controlledLines_)
    if (entry->Id == id)
      return entry.get();
  return nullptr;
}

void TCVMixer::StoreLevel(ControlledLineId id, int32_t level) {
  if (ControlledLine* entry = FindLine(id))
    entry->Level = level;
}

int32_t TCVMixer::GetLevel(ControlledLineId id) {
  ControlledLine* entry = FindLine(id);
  return entry ? entry->Level : 0;
}

bool TCVMixer::IsLineMuted(ControlledLineId id) {
  ControlledLine* entry = FindLine(id);
  return entry ? GetLineMute(entry->Device, entry->Root, entry->Line) : false;
}

void TCVMixer::LineTick() {
  // The list is walked by position: a removed entry lets the next one move into its place.
  size_t i = 0;
  while (i < controlledLines_.size()) {
    ControlledLine& entry = *controlledLines_[i];
    if (entry.Fader->Active) {
      SetLineVolume(entry.Device, entry.Root, entry.Line, VolumeOf(entry.Fader->Value), false);
    } else if (entry.RemovePending) {
      controlledLines_.erase(controlledLines_.begin() + static_cast<std::ptrdiff_t>(i));
      continue;
    }
    ++i;
  }
}

void TCVMixer::FadeTo(ControlledLineId id, int32_t level, double seconds) {
  ControlledLine* entry = FindLine(id);
  if (entry == nullptr)
    return;
  TCVFader& fader = *entry->Fader;
  fader.SetValue(entry->Level);
  entry->Level = level;
  fader.OnStart = [this](TCVFader& sender, double value) { FadeUpStarted(sender, value); };
  fader.OnDone = [this](TCVFader& sender, double value) { FadeToDone(sender, value); };
  fader.Tag = entry->Id;
  fader.Start(level, seconds);
}

void TCVMixer::FadeOutGroup(int32_t group, bool keepDown, double seconds) {
  for (size_t i = 0; i < controlledLines_.size(); ++i) {
    ControlledLine& entry = *controlledLines_[i];
    if (entry.Group != group)
      continue;
    entry.KeepDown = keepDown;
    TCVFader& fader = *entry.Fader;
    fader.Tag = entry.Id;
    fader.OnStart = [this](TCVFader& sender, double value) { FadeOutStarted(sender, value); };
    fader.OnDone = [this](TCVFader& sender, double value) { FadeOutDone(sender, value); };
    // A line that is already muted goes to its end state at once.
    fader.Start(0, IsLineMuted(entry.Id) ? 0.0 : seconds);
  }
}

void TCVMixer::FadeInGroup(int32_t group, double seconds) {
  for (size_t i = 0; i < controlledLines_.size(); ++i) {
    ControlledLine& entry = *controlledLines_[i];
    if (entry.Group != group)
      continue;
    TCVFader& fader = *entry.Fader;
    fader.Tag = entry.Id;
    fader.OnStart = [this](TCVFader& sender, double value) { FadeUpStarted(sender, value); };
    fader.OnDone = [this](TCVFader& sender, double value) { FadeInDone(sender, value); };
    // A muted line is heard from silence, whatever volume it was left at.
    if (IsLineMuted(entry.Id))
      fader.SetValue(0);
    fader.Start(entry.Level, seconds);
  }
}

ControlledLine* TCVMixer::LineOf(TCVFader& sender) {
  return FindLine(sender.Tag);
}

void TCVMixer::FadeUpStarted(TCVFader& sender, double /*value*/) {
  ControlledLine* entry = LineOf(sender);
  if (entry == nullptr)
    return;
  SetLineVolume(entry->Device, entry->Root, entry->Line, 0, false);
  SetLineMute(entry->Device, entry->Root, entry->Line, false, false);
}

void TCVMixer::FadeToDone(TCVFader& sender, double /*value*/) {
  ControlledLine* entry = LineOf(sender);
  if (entry == nullptr)
    return;
  SetLineVolume(entry->Device, entry->Root, entry->Line, entry->Level, false);
}

void TCVMixer::FadeInDone(TCVFader& sender, double /*value*/) {
  ControlledLine* entry = LineOf(sender);
  if (entry == nullptr)
    return;
  SetLineVolume(entry->Device, entry->Root, entry->Line, entry->Level, false);
  SetLineMute(entry->Device, entry->Root, entry->Line, false, false);
}

void TCVMixer::FadeOutStarted(TCVFader& sender, double /*value*/) {
  ControlledLine* entry = LineOf(sender);
  if (entry == nullptr)
    return;
  SetLineVolume(entry->Device, entry->Root, entry->Line, entry->Level, false);
  SetLineMute(entry->Device, entry->Root, entry->Line, false, true);
}

void TCVMixer::FadeOutDone(TCVFader& sender, double /*value*/) {
  ControlledLine* entry = LineOf(sender);
  if (entry == nullptr)
    return;
  SetLineVolume(entry->Device, entry->Root, entry->Line, 0, false);
  const bool muted = SetLineMute(entry->Device, entry->Root, entry->Line, true, true);
  // Only a line that is known to be silenced by its switch gets its level back.
  if (muted && !entry->KeepDown)
    SetLineVolume(entry->Device, entry->Root, entry->Line, entry->Level, false);
}

}  // namespace calvora::mixer
