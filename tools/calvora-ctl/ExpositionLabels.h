#pragma once
// One label added to every sample of a Prometheus text exposition: the station's name on each
// metric, whatever metrics the monitor writes, so that one Prometheus can tell the stations of
// a group apart without relabelling.
#include <string>
#include <string_view>

namespace calvora::ctl {

// The text with name="value" as the first label of every sample line; comments and blank
// lines stay as they are. The value is escaped as the format asks (\\, \" and \n).
std::string AddLabelToEverySample(std::string_view exposition, std::string_view name,
                                  std::string_view value);

// Why a station name cannot be a label value here, or empty when it can: it must not be
// empty nor hold control characters (a name with them is a mistake in a settings file).
std::string StationNameProblem(std::string_view name);

}  // namespace calvora::ctl
