// The names capture and mixer devices are shown by: trimmed, cut to 32 characters and numbered
// so that no two are alike, with the number never cut off.
#include "platform/alsa/AlsaDeviceNames.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace calvora::platform::alsa {
namespace {

TEST(AlsaDeviceNames, ShownNamesAreTrimmedCutAndFallBackToTheAddress) {
  const std::string e9 = "\xC3\xA9";  // one two-byte character
  std::string e9x40;
  for (int i = 0; i < 40; ++i)
    e9x40 += e9;
  const struct {
    const char* what;
    std::string name;
    std::string fallback;
    std::string shown;
  } kCases[] = {
      {"blanks and controls at both ends", " \t USB Audio\r\n\x7F", "hw:0", "USB Audio"},
      {"blanks inside are kept", "USB  Audio", "hw:0", "USB  Audio"},
      {"cut to 32 characters", "Calvora Twin Capture With A Long Name", "x",
       "Calvora Twin Capture With A Long"},
      {"a cut that ends on a blank leaves none", "Calvora Twin Capture With A Lon  tail", "x",
       "Calvora Twin Capture With A Lon"},
      {"characters, not bytes, and none split", e9x40, "x", e9x40.substr(0, 64)},
      {"a blank name shows the address", " \t\x7F ", "  plughw:1,0 ", "plughw:1,0"},
      {"an empty name shows the address", "", "hw:2", "hw:2"},
      {"nothing at all stays empty", " ", "\t", ""},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(ShownDeviceName(c.name, c.fallback), c.shown) << c.what;
}

TEST(AlsaDeviceNames, ATakenNameIsNumberedFromTwoAndTheNumberIsNeverCutOff) {
  const std::string longName = "Calvora Twin Capture With A Long";  // 32 characters
  const struct {
    const char* what;
    std::string name;
    std::set<std::string> taken;
    std::string numbered;
  } kCases[] = {
      {"a free name stays as it is", "Mic", {"Line"}, "Mic"},
      {"the first repeat is (2)", "Mic", {"Mic"}, "Mic (2)"},
      {"the next free number", "Mic", {"Mic", "Mic (2)", "Mic (3)"}, "Mic (4)"},
      {"a gap is filled", "Mic", {"Mic", "Mic (3)"}, "Mic (2)"},
      {"a long name is cut for the number",
       longName,
       {longName},
       "Calvora Twin Capture With A (2)"},
      {"two digits",
       "Calvora Virtual Capture Device 1",
       {"Calvora Virtual Capture Device 1", "Calvora Virtual Capture Devi (2)",
        "Calvora Virtual Capture Devi (3)", "Calvora Virtual Capture Devi (4)",
        "Calvora Virtual Capture Devi (5)", "Calvora Virtual Capture Devi (6)",
        "Calvora Virtual Capture Devi (7)", "Calvora Virtual Capture Devi (8)",
        "Calvora Virtual Capture Devi (9)"},
       "Calvora Virtual Capture Dev (10)"},
  };
  for (const auto& c : kCases) {
    const std::string numbered = NumberedDeviceName(
        c.name, [&](const std::string& name) { return c.taken.count(name) != 0; });
    EXPECT_EQ(numbered, c.numbered) << c.what;
    EXPECT_LE(numbered.size(), kMaxDeviceNameLength) << c.what;
  }
}

}  // namespace
}  // namespace calvora::platform::alsa
