#pragma once
// How long after a fault begins its event comes, at most, by kind of event: what a clip of the
// event must reach back over to hold the moment it began.
#include <array>
#include <chrono>

#include "CheckSettings.h"
#include "events/StationEvents.h"

namespace calvora::ctl {

// The checks' times as set, with the audio each reading gathers before it counts; the utility's
// own silence and sound verdicts are taken at the most its settings dialog allows (30 s), as
// their times are the utility's settings and unknown here.
std::array<std::chrono::milliseconds, kEventKindCount> DetectionTimesOf(
    const CheckSettings& checks);

}  // namespace calvora::ctl
