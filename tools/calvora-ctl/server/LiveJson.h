#pragma once
// The live page's JSON, written from a snapshot of the station's state: the state and the
// readings now, the last events, and one event as the page takes it. Unknown values are null.
#include <string>

#include "events/JsonValues.h"
#include "monitor/StationSnapshot.h"

namespace calvora::ctl {

// The state and the readings now; the levels only while blocks come (the last within 2 s).
std::string LiveJson(const StationSnapshot& state,
                     StationSnapshot::Clock::time_point now = StationSnapshot::Clock::now());
// The last events, newest first.
std::string RecentEventsJson(const StationSnapshot& state);
std::string EventJson(const StationEvent& event);
// {"card": true/false/null, "mixer": ...}, as /status and the page show the devices.
Json DeviceStatesJson(const StationSnapshot& state);

}  // namespace calvora::ctl
