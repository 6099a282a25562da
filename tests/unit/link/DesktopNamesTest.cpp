#include <gtest/gtest.h>

#include "platform/dbus/SdBusDesktop.h"

namespace calvora::platform::dbus {
namespace {

TEST(DesktopNames, WindowNamesCarryClassAndHandle) {
  EXPECT_EQ(SdBusDesktop::WindowBusName("TCV_AudioMixer", 42),
            "org.calvora.Window.TCV_AudioMixer.H42");
  WindowInfo window;
  ASSERT_TRUE(SdBusDesktop::ParseWindowBusName("org.calvora.Window.TCV_AudioMixer.H42", window));
  EXPECT_EQ(window.className, "TCV_AudioMixer");
  EXPECT_EQ(window.handle, 42u);
  ASSERT_TRUE(SdBusDesktop::ParseWindowBusName("org.calvora.Window.A.H4294967295", window));
  EXPECT_EQ(window.handle, 4294967295u);
}

TEST(DesktopNames, OtherNamesAreNoWindows) {
  WindowInfo window;
  for (const char* name :
       {"org.calvora.Window.TCV_AudioMixer", "org.calvora.Window.TCV_AudioMixer.H",
        "org.calvora.Window.TCV_AudioMixer.H0", "org.calvora.Window.TCV_AudioMixer.H12x",
        "org.calvora.Window.TCV_AudioMixer.H4294967296", "org.calvora.Window.9Lives.H3",
        "org.calvora.Window.A.B.H3", "org.calvora.Window..H3", "org.freedesktop.DBus", ":1.4",
        "org.calvora.WindowX.A.H3", "org.calvora.Window.TCV_AudioMixer.H07"})
    EXPECT_FALSE(SdBusDesktop::ParseWindowBusName(name, window)) << name;
  EXPECT_FALSE(SdBusDesktop::IsValidClassName(std::string(201, 'A')));
  EXPECT_TRUE(SdBusDesktop::IsValidClassName("_x9"));
}

}  // namespace
}  // namespace calvora::platform::dbus
