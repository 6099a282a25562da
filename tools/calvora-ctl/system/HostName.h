#pragma once
// The station's name when --station is not given: this machine's host name, as a station
// group's hosts are usually named after their studios.
#include <string>

namespace calvora::ctl {

std::string HostName();

}  // namespace calvora::ctl
