#pragma once
// The utility's windows as calvora-ctl reaches them on the desktop: finding them, sending
// them a command from this program's window, and telling why a send failed.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Desktop.h"

namespace calvora::ctl {

constexpr const char* kUtilityClass = "TCV_AudioMixer";

// Sends the utility `target` the command (code, argument), with this program's window as the
// sender, and returns its answer.
platform::SendResult SendCommand(platform::Desktop& desktop, platform::WindowHandle target,
                                 uint16_t code, uint16_t argument);

// The windows of the running utilities, in the order of their handles.
std::vector<platform::WindowHandle> RunningUtilities(platform::Desktop& desktop);

// Why a send failed, as the user is told.
std::string DescribeFailure(const platform::SendResult& sent);

}  // namespace calvora::ctl
