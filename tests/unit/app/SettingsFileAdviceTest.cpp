#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "app/SettingsFileAdvice.h"

namespace calvora::app {
namespace {

namespace fs = std::filesystem;

TEST(SettingsFileAdvice, AFolderThatCannotBeWrittenGetsAdviceAndEveryOtherErrorStaysAsItIs) {
  const fs::path dir = fs::temp_directory_path() / ("calvora-advice-" + std::to_string(getpid()));
  fs::create_directories(dir);
  // A folder that does not exist cannot be written by anyone, root included (the tests run as
  // root, who may write into a folder without write permission).
  const std::string unwritable = (dir / "missing" / "calvora-audio-mixer.ini").string();
  const std::string writable = (dir / "calvora-audio-mixer.ini").string();

  const std::string shown = SettingsErrorForUser("Unable to write to " + unwritable, unwritable);
  EXPECT_EQ(shown.rfind("Unable to write to " + unwritable + "\n\n", 0), 0u) << shown;
  EXPECT_NE(shown.find("copy the program into a folder you own"), std::string::npos);

  EXPECT_EQ(SettingsErrorForUser("Unable to write to " + writable, writable),
            "Unable to write to " + writable);
  EXPECT_EQ(SettingsErrorForUser("Invalid data type for 'DORozizIzuzo'", unwritable),
            "Invalid data type for 'DORozizIzuzo'");
  EXPECT_EQ(SettingsErrorForUser("Unable to write to /elsewhere.ini", unwritable),
            "Unable to write to /elsewhere.ini");
  fs::remove_all(dir);
}

TEST(SettingsFileAdvice, TheSettingsFileIsTheProgramsPathWithIni) {
  EXPECT_EQ(SettingsFilePathFor("/usr/bin/calvora-audio-mixer"),
            "/usr/bin/calvora-audio-mixer.ini");
  EXPECT_EQ(SettingsFilePathFor("/opt/calvora/mixer.bin"), "/opt/calvora/mixer.ini");
  // A dot in a folder's name is no extension.
  EXPECT_EQ(SettingsFilePathFor("/home/a.b/calvora"), "/home/a.b/calvora.ini");
}

}  // namespace
}  // namespace calvora::app
