// The computer's DNS host name, without its domain, as `hostname` prints it on Windows.
#include <windows.h>

#include "HostName.h"
#include "platform/win32/WideText.h"

namespace calvora::ctl {

std::string HostName() {
  wchar_t name[256] = {};
  DWORD size = sizeof name / sizeof name[0];
  if (!GetComputerNameExW(ComputerNameDnsHostname, name, &size) || size == 0)
    return "localhost";
  return platform::win32::Narrow(name);
}

}  // namespace calvora::ctl
