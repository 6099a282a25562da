#include "UtilityWindows.h"

#include <algorithm>

#include "link/WinMSG.h"

namespace calvora::ctl {

platform::SendResult SendCommand(platform::Desktop& desktop, platform::WindowHandle target,
                                 uint16_t code, uint16_t argument) {
  return desktop.SendMessage(target, link::WM_WINMSG, desktop.OwnWindow(),
                             link::TWinMSG::EncodeCommand(code, argument));
}

std::vector<platform::WindowHandle> RunningUtilities(platform::Desktop& desktop) {
  std::vector<platform::WindowHandle> handles;
  for (const auto& window : desktop.EnumWindows())
    if (window.className == kUtilityClass)
      handles.push_back(window.handle);
  std::sort(handles.begin(), handles.end());
  return handles;
}

std::string DescribeFailure(const platform::SendResult& sent) {
  switch (sent.status) {
    case platform::result::kTimeout:
      return "the utility did not answer within 1000 ms";
    case platform::result::kInvalidHandle:
      return "the utility's window no longer exists";
    case platform::result::kNotSupported:
      return "that window does not take window messages";
    default:
      return "the message could not be sent";
  }
}

}  // namespace calvora::ctl
