#pragma once
// The station's name as serve puts it on every metric (station="NAME"), so that one
// Prometheus can tell the stations of a group apart without relabelling.
#include <string>
#include <string_view>

namespace calvora::ctl {

// Why a station name cannot be a label value here, or empty when it can: it must be UTF-8
// text (a scraper refuses a whole exposition over one bad byte), not empty, and without
// control characters (a name with them is a mistake in a settings file).
std::string StationNameProblem(std::string_view name);

}  // namespace calvora::ctl
