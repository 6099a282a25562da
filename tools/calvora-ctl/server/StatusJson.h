#pragma once
// /status: the station's state as one JSON object, written from a snapshot of it. Unknown
// values (a device not reported, no verdict or block yet, no reading) are null.
#include <string>

#include "monitor/StationSnapshot.h"

namespace calvora::ctl {

std::string StatusJson(const StationSnapshot& state,
                       StationSnapshot::Clock::time_point now = StationSnapshot::Clock::now());

}  // namespace calvora::ctl
