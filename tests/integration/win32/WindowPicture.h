#pragma once
// A picture of a window's client area as the screen shows it, saved as a PNG file for people
// to look at beside the Qt build's pictures.
#include "ui/win32/WindowsApi.h"

#include <string>

namespace calvora::testing {

// True when the file was written.
bool SaveWindowPicture(HWND window, const std::string& path);

}  // namespace calvora::testing
