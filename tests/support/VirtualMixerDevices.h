#pragma once
// Mixer devices held in memory: the test builds devices, destinations, source lines and
// their controls, can make any query fail, and reads back every value and every write.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/MixerDevices.h"

namespace calvora::testing {

class VirtualMixerDevices : public platform::MixerDevices {
 public:
  enum class Controls { kNone, kVolume, kMute, kBoth };

  struct Line {
    platform::MixerLineInfo info;
    std::vector<platform::MixerControlInfo> controls;
    bool queryFails = false;    // the line's info query fails
    bool controlsFail = false;  // the query of its controls fails
  };
  struct Destination {
    Line line;
    std::vector<Line> sources;
  };
  struct Device {
    std::string name;
    bool capsFails = false;
    bool ignoresWrites = false;  // a device that stores nothing written to it
    bool readsFail = false;      // a device that no longer answers reads
    std::vector<Destination> destinations;
    std::map<uint32_t, uint32_t> values;  // by control id
  };
  struct Write {
    uint32_t device;
    uint32_t controlId;
    uint32_t value;
  };

  // Builders; each returns the new item's index.
  uint32_t AddDevice(const std::string& name);
  uint32_t AddDestination(uint32_t device, const std::string& name, Controls controls);
  uint32_t AddSource(uint32_t device, uint32_t destination, const std::string& name,
                     Controls controls);
  // A line by destination and source; source -1 is the destination's own line.
  Line& LineAt(uint32_t device, uint32_t destination, int32_t source);
  // Adds a control of the given type to a line and returns its id.
  uint32_t AddControl(uint32_t device, uint32_t destination, int32_t source, uint32_t type);

  // Control ids of a line's volume and mute (the last of each type); 0 when it has none.
  uint32_t VolumeId(uint32_t device, uint32_t destination, int32_t source = -1);
  uint32_t MuteId(uint32_t device, uint32_t destination, int32_t source = -1);
  uint32_t Volume(uint32_t device, uint32_t destination, int32_t source = -1);
  bool Muted(uint32_t device, uint32_t destination, int32_t source = -1);
  void SetVolume(uint32_t device, uint32_t destination, int32_t source, uint32_t value);
  void SetMuted(uint32_t device, uint32_t destination, int32_t source, bool muted);

  std::vector<Device> devices;
  std::vector<Write> writes;                   // every SetControlValue, in order
  int calls = 0;                               // every call of the interface
  uint32_t reportedDestinations = UINT32_MAX;  // when set, overrides every device's count

  uint32_t DeviceCount() override;
  platform::Result GetDeviceCaps(uint32_t device, platform::MixerDeviceCaps& caps) override;
  platform::Result GetDestinationLine(uint32_t device, uint32_t destination,
                                      platform::MixerLineInfo& line) override;
  platform::Result GetSourceLine(uint32_t device, uint32_t destination, uint32_t source,
                                 platform::MixerLineInfo& line) override;
  platform::Result GetLineControls(uint32_t device, uint32_t lineId, uint32_t count,
                                   std::vector<platform::MixerControlInfo>& controls) override;
  platform::Result GetControlValue(uint32_t device, uint32_t controlId, uint32_t& value) override;
  platform::Result SetControlValue(uint32_t device, uint32_t controlId, uint32_t value) override;

 private:
  uint32_t ControlOfType(uint32_t device, uint32_t destination, int32_t source, uint32_t type);
  const Line* FindLineById(uint32_t device, uint32_t lineId) const;
  uint32_t nextId_ = 1;
};

}  // namespace calvora::testing
