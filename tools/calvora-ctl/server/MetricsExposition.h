#pragma once
// The station's metrics in the Prometheus text format, written from a snapshot of its state.
// Names carry their unit (dBFS, LUFS, dBTP, ratio, seconds); times are Unix timestamps, so a
// query takes the age with time() - metric; NaN is "no reading yet".
#include <string>

#include "monitor/StationSnapshot.h"

namespace calvora::ctl {

std::string MetricsExposition(const StationSnapshot& state);

}  // namespace calvora::ctl
