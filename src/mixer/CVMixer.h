#pragma once
// The line controller: keeps a list of mixer lines under control, each with its stored level
// and its own fader, fades them out to mute and back in to their levels, and notices when the
// number of mixer devices in the system changes. Each fading line's fader recomputes its value
// every 10 ms; the controller's 40 ms line timer writes the current values to the devices.
// What happens at the start and the end of a fade is done by handlers hung on the fader.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "mixer/CVFaders.h"
#include "mixer/MixerXP.h"
#include "platform/Clock.h"
#include "platform/MixerDevices.h"
#include "platform/Timers.h"

namespace calvora::mixer {

// Positive id of a line under a controller's control; -1 stands for none in callers' variables.
using ControlledLineId = int32_t;

struct ControlledLine {
  bool RemovePending = false;  // freed by the first line tick that finds its fader idle
  std::unique_ptr<TCVFader> Fader;
  int32_t Device = -1;
  int32_t Root = -1;
  int32_t Line = -1;
  int32_t Level = 0;   // device units 0..65535: the volume the line is restored to
  int32_t Group = -1;  // -1 once marked for removal
  ControlledLineId Id = -1;
  bool KeepDown = false;  // a faded-out line stays at volume 0 behind its mute switch
};

class TCVMixer {
 public:
  static constexpr int32_t kLineTickMs = 40;

  // Reads the device list (the process-wide tree, without lines); the controller is closed.
  TCVMixer(platform::MixerDevices& devices, platform::Clock& clock, platform::Timers& timers);
  // Closes the controller and frees the process-wide tree.
  ~TCVMixer();
  TCVMixer(const TCVMixer&) = delete;
  TCVMixer& operator=(const TCVMixer&) = delete;

  // Closes, reads the device list again and clears DevicesChanged.
  void Reset();
  // Raises OnDevicesChanged when the number of mixer devices differs from the tree's.
  void CheckDevices();
  // Opens (loads lines and controls, starts the line timer, ids from 1) or closes (abandons
  // every line where it is and frees the process-wide tree).
  void SetActive(bool active);
  bool Active() const { return active_; }

  void GetDeviceNames(std::vector<std::string>& names) const;
  void GetRootNames(int32_t device, std::vector<std::string>& names) const;
  void GetLineNames(int32_t device, int32_t root, std::vector<std::string>& names) const;

  // Puts a line under control with the device's current volume as its level; -1 when the
  // address is out of range or the controller is not open.
  ControlledLineId AddLine(int32_t group, int32_t device, int32_t root, int32_t line);
  // Marks the line for removal; a fading line is kept until its fade ends.
  void RemoveLine(ControlledLineId id);
  void RemoveGroup(int32_t group);
  ControlledLine* FindLine(ControlledLineId id);
  void StoreLevel(ControlledLineId id, int32_t level);
  int32_t GetLevel(ControlledLineId id);

  // Fades one line from its stored level to a new one, unmuting it.
  void FadeTo(ControlledLineId id, int32_t level, double seconds);
  // Fades every line of the group to 0 and mutes it; with keepDown the volume stays at 0,
  // otherwise it is put back to the level behind the closed mute switch.
  void FadeOutGroup(int32_t group, bool keepDown, double seconds);
  // Unmutes every line of the group and fades it up to its stored level.
  void FadeInGroup(int32_t group, double seconds);
  bool IsLineMuted(ControlledLineId id);

  std::function<void(TCVMixer& sender)> OnDevicesChanged;
  bool DevicesChanged = false;  // free for the OnDevicesChanged handler; cleared by Reset

  // Number of entries in the controlled-line list, including those pending removal.
  size_t ControlledLineCount() const { return controlledLines_.size(); }

 private:
  void LineTick();
  void FadeUpStarted(TCVFader& sender, double value);
  void FadeToDone(TCVFader& sender, double value);
  void FadeInDone(TCVFader& sender, double value);
  void FadeOutStarted(TCVFader& sender, double value);
  void FadeOutDone(TCVFader& sender, double value);
  ControlledLine* LineOf(TCVFader& sender);

  platform::MixerDevices& devices_;
  platform::Clock& clock_;
  platform::Timers& timers_;
  bool active_ = false;
  int32_t nextId_ = 1;
  std::unique_ptr<platform::Timer> lineTimer_;
  std::vector<std::unique_ptr<ControlledLine>> controlledLines_;
};

}  // namespace calvora::mixer
