#pragma once
// The station's command for each kind of event (--on-silence and its kin), each run by an
// ActionRunner of its own with the event in its environment: CALVORA_EVENT, CALVORA_DEVICE,
// CALVORA_TIME, CALVORA_LEFT_DB, CALVORA_RIGHT_DB (empty before the first block) and
// CALVORA_HANDLE; for a check's event also CALVORA_CHANNEL (left, right or empty) and
// CALVORA_VALUE (the reading that decided it).
#include <array>
#include <memory>

#include "ActionRunner.h"
#include "events/StationServices.h"

namespace calvora::ctl {

class EventCommands : public StationServices {
 public:
  // The commands of `actions`, or null when there are none.
  static std::unique_ptr<EventCommands> Make(const EventActions& actions,
                                             platform::WindowHandle utility,
                                             const ReportLine& report);

  void OnEvent(const StationEvent& event) override;
  // CALVORA_HANDLE follows the utility serve is attached to.
  void OnUtility(platform::WindowHandle utility) override { utility_ = utility; }
  std::vector<StationEvent> OnAudio(const link::AudioBlockHeader&,
                                    std::span<const uint8_t>) override {
    return {};
  }

 private:
  explicit EventCommands(platform::WindowHandle utility) : utility_(utility) {}

  platform::WindowHandle utility_;
  std::array<std::unique_ptr<ActionRunner>, kEventKindCount> runners_;  // by EventKind
};

}  // namespace calvora::ctl
