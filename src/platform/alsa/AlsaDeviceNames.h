#pragma once
// The names capture and mixer devices are shown by, so that every device can be chosen by its
// name: trimmed of blanks and control characters, cut to the 32 characters the device lists
// keep, and numbered ("Name (2)", "Name (3)" ...) when a device listed before it has the same
// name. The number is never cut off; the name before it is cut shorter instead.
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace calvora::platform::alsa {

constexpr size_t kMaxDeviceNameLength = 32;

// The name trimmed and cut; where that leaves nothing, the fallback (the device's address)
// trimmed and cut the same way.
std::string ShownDeviceName(std::string_view name, std::string_view fallback);

// The first of "name", "name (2)", "name (3)" ... that is not taken.
std::string NumberedDeviceName(const std::string& name,
                               const std::function<bool(const std::string&)>& taken);

}  // namespace calvora::platform::alsa
