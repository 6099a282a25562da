#include "platform/alsa/AlsaDeviceNames.h"

#include "platform/Utf8Text.h"

namespace calvora::platform::alsa {

namespace {

// At most maxChars characters, trimmed; a cut that ends on a blank leaves no blank at the end
// either.
std::string Trimmed(std::string_view name, size_t maxChars) {
  return std::string(TrimBlanksAndControls(CutToChars(TrimBlanksAndControls(name), maxChars)));
}

}  // namespace

std::string ShownDeviceName(std::string_view name, std::string_view fallback) {
  std::string shown = Trimmed(name, kMaxDeviceNameLength);
  return shown.empty() ? Trimmed(fallback, kMaxDeviceNameLength) : shown;
}

std::string NumberedDeviceName(const std::string& name,
                               const std::function<bool(const std::string&)>& taken) {
  std::string candidate = name;
  for (int n = 2; taken(candidate); ++n) {
    const std::string suffix = " (" + std::to_string(n) + ")";
    candidate = Trimmed(name, kMaxDeviceNameLength - suffix.size()) + suffix;
  }
  return candidate;
}

}  // namespace calvora::platform::alsa
