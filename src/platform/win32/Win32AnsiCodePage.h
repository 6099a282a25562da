#pragma once
#include "platform/ini/ProfileEncoding.h"

namespace calvora::platform::win32 {

// The system's ANSI code page (GetACP), in which the profile functions read a file without a
// byte-order mark.
class Win32AnsiCodePage : public ini::AnsiCodePage {
 public:
  std::string ToUtf8(std::string_view bytes) const override;
  std::optional<std::string> FromUtf8(std::string_view utf8) const override;
};

}  // namespace calvora::platform::win32
