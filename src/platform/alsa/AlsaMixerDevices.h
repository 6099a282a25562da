#pragma once
// The mixer devices on ALSA. The devices are those of AlsaMixerListing.h that open now: the
// sound cards, the sound server's mixer and the virtual card's; each is named by its card name
// (a server by its own name), trimmed, and numbered ("Name (2)") when a device listed before it
// has the same name, so that every device can be chosen by its name. A device's roots are
// "Playback" and "Capture" (those it has lines for); a root's own line is its master element
// ("Master", "Capture"), and its source lines are the other elements with a volume or a switch in
// that direction, in the device's order. A line's volume and mute controls are its element's volume
// and switch: volumes are 0..65535 as alsamixer shows them (AlsaVolumeScale.h), and a line is
// muted when its switch is off. Values are read from the device on every call, so other programs'
// changes are seen.
#include <alsa/asoundlib.h>

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/MixerDevices.h"
#include "platform/alsa/AlsaDeviceWatch.h"
#include "platform/alsa/AlsaMixerListing.h"
#include "platform/alsa/AlsaVolumeScale.h"

namespace calvora::platform::alsa {

enum class MixerDirection { kPlayback, kCapture };
enum class MixerControlKind { kVolume, kSwitch };

// What a control element's name says: the line it belongs to, the direction and the kind.
// "PCM Playback Volume" is the PCM playback volume, "Capture Switch" the capture master's
// switch; a name without a direction ("Master Volume") counts as playback. False for names
// that are no volume or switch.
struct MixerElementName {
  std::string line;
  MixerDirection direction = MixerDirection::kPlayback;
  MixerControlKind kind = MixerControlKind::kVolume;
};
bool ParseMixerElementName(const std::string& name, MixerElementName& parsed);

class AlsaMixerDevices : public MixerDevices {
 public:
  AlsaMixerDevices();
  ~AlsaMixerDevices() override;
  AlsaMixerDevices(const AlsaMixerDevices&) = delete;
  AlsaMixerDevices& operator=(const AlsaMixerDevices&) = delete;

  // Looks for the devices present now. Device numbers keep pointing at the devices they were
  // bound to until GetDeviceCaps binds them again, so a device that vanishes or appears
  // before another never redirects writes meant for that one.
  uint32_t DeviceCount() override;
  // Binds the number to the device of the last count, opens it (if not yet open) and reads
  // its lines afresh.
  Result GetDeviceCaps(uint32_t device, MixerDeviceCaps& caps) override;
  Result GetDestinationLine(uint32_t device, uint32_t destination, MixerLineInfo& line) override;
  Result GetSourceLine(uint32_t device, uint32_t destination, uint32_t source,
                       MixerLineInfo& line) override;
  Result GetLineControls(uint32_t device, uint32_t lineId, uint32_t count,
                         std::vector<MixerControlInfo>& controls) override;
  Result GetControlValue(uint32_t device, uint32_t controlId, uint32_t& value) override;
  Result SetControlValue(uint32_t device, uint32_t controlId, uint32_t value) override;

  // The ALSA control device name behind a device number ("hw:0", "calvora_mixer").
  std::string DeviceAddress(uint32_t device) const;

 private:
  struct Device;
  Device* Find(uint32_t device) const;
  // The bound device that has the destination; kBadDeviceId or kInvalidParam when there is none.
  Result FindWithDestination(uint32_t device, uint32_t destination, const Device*& entry) const;
  // The open device that has the control; kBadDeviceId or kInvalidParam when there is none.
  Result FindWithControl(uint32_t device, uint32_t controlId, const Device*& entry) const;
  // Whether a sound server's mixer answers now: through its open handle when it has one.
  bool ServerAnswers(const std::string& address);
  // The name the bound device is shown by, distinct from those of lower numbers.
  std::string DistinctName(uint32_t device) const;

  AlsaDeviceWatch watch_;
  std::vector<MixerCandidate> candidates_;        // as of the last change the watch saw
  std::vector<bool> answered_;                    // per candidate: it opened when last looked at
  std::set<std::string> failedToBind_;            // addresses that answered a count but not binding
  std::vector<MixerCandidate> present_;           // found by the last count
  std::vector<std::unique_ptr<Device>> devices_;  // by device number, as last bound
};

}  // namespace calvora::platform::alsa
