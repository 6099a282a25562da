#include "app/SettingsFileLocation.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "app/SettingsFileAdvice.h"

namespace calvora::app {
namespace {

namespace fs = std::filesystem;

struct FakeSystem {
  std::set<std::string> writableFolders;
  std::map<std::string, std::string> environment;
  std::optional<std::string> accountHome;

  SettingsFileSystem Seam() const {
    return {[this](const std::string& folder) { return writableFolders.count(folder) > 0; },
            [this](const std::string& name) -> std::optional<std::string> {
              const auto found = environment.find(name);
              return found == environment.end() ? std::nullopt
                                                : std::optional<std::string>(found->second);
            },
            [this] { return accountHome; }};
  }
};

TEST(SettingsFileLocation, BesideAWritableProgramElseInTheUsersConfigFolder) {
  struct Case {
    const char* what;
    FakeSystem system;
    const char* executable;
    const char* expected;
  };
  const Case cases[] = {
      {"a build tree or copied program keeps its file beside it",
       {{"/home/ann/calvora"}, {{"XDG_CONFIG_HOME", "/home/ann/.cfg"}}, {}},
       "/home/ann/calvora/calvora-audio-mixer",
       "/home/ann/calvora/calvora-audio-mixer.ini"},
      {"an installed program, XDG_CONFIG_HOME set",
       {{}, {{"XDG_CONFIG_HOME", "/home/ann/.cfg"}, {"HOME", "/home/ann"}}, {}},
       "/usr/bin/calvora-audio-mixer",
       "/home/ann/.cfg/calvora-audio-mixer/calvora-audio-mixer.ini"},
      {"an installed program, ~/.config by default",
       {{}, {{"HOME", "/home/ann/"}}, {}},
       "/usr/bin/calvora-audio-mixer",
       "/home/ann/.config/calvora-audio-mixer/calvora-audio-mixer.ini"},
      {"a relative XDG_CONFIG_HOME is ignored, as the XDG rules say",
       {{}, {{"XDG_CONFIG_HOME", "cfg"}, {"HOME", "/home/ann"}}, {}},
       "/usr/bin/calvora-audio-mixer",
       "/home/ann/.config/calvora-audio-mixer/calvora-audio-mixer.ini"},
      {"an empty XDG_CONFIG_HOME is unset",
       {{}, {{"XDG_CONFIG_HOME", ""}, {"HOME", "/home/ann"}}, {}},
       "/usr/bin/calvora-audio-mixer",
       "/home/ann/.config/calvora-audio-mixer/calvora-audio-mixer.ini"},
      {"without HOME, the account's home folder",
       {{}, {}, "/var/lib/studio"},
       "/usr/bin/calvora-audio-mixer",
       "/var/lib/studio/.config/calvora-audio-mixer/calvora-audio-mixer.ini"},
      {"without any home folder, beside the program (a save then reports the folder)",
       {{}, {{"HOME", "relative"}}, {}},
       "/usr/bin/calvora-audio-mixer",
       "/usr/bin/calvora-audio-mixer.ini"},
      {"the folder of the program, not of the settings' name, decides",
       {{"/"}, {{"HOME", "/root"}}, {}},
       "/calvora-audio-mixer",
       "/calvora-audio-mixer.ini"},
  };
  for (const Case& c : cases) {
    const SettingsFileLocation location = ChooseSettingsFile(c.executable, c.system.Seam());
    EXPECT_EQ(location.path, c.expected) << c.what;
    EXPECT_EQ(location.besideProgram, SettingsFilePathFor(c.executable)) << c.what;
    EXPECT_EQ(location.InUserFolder(), location.path != location.besideProgram) << c.what;
  }
}

class PreparedSettingsFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("calvora-location-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "usr" / "bin");
    location = {(dir / "home" / ".config" / "calvora-audio-mixer" / "calvora-audio-mixer.ini"),
                (dir / "usr" / "bin" / "calvora-audio-mixer.ini")};
  }
  void TearDown() override { fs::remove_all(dir); }

  static void Write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  fs::path dir;
  SettingsFileLocation location;
};

TEST_F(PreparedSettingsFile, TheFirstStartCopiesTheAdministratorsFileOnceAndWritable) {
  Write(location.besideProgram, "[Settings]\nPID=12\n");
  ::chmod(location.besideProgram.c_str(), 0444);
  EXPECT_EQ(PrepareSettingsFile(location), std::nullopt);
  EXPECT_EQ(Read(location.path), "[Settings]\nPID=12\n");
  struct stat status {};
  ASSERT_EQ(::stat(location.path.c_str(), &status), 0);
  EXPECT_NE(status.st_mode & S_IWUSR, 0u) << "the user's copy must be the user's to save";

  // The user's own file is never replaced again, whatever the administrator changes.
  Write(location.path, "[Settings]\nPID=7\n");
  ::chmod(location.besideProgram.c_str(), 0644);
  Write(location.besideProgram, "[Settings]\nPID=99\n");
  EXPECT_EQ(PrepareSettingsFile(location), std::nullopt);
  EXPECT_EQ(Read(location.path), "[Settings]\nPID=7\n");
  EXPECT_EQ(fs::directory_iterator(fs::path(location.path).parent_path())->path(),
            fs::path(location.path))
      << "nothing but the settings file in the user's folder";
}

TEST_F(PreparedSettingsFile, WithoutAFileBesideTheProgramOnlyTheFolderIsMade) {
  EXPECT_EQ(PrepareSettingsFile(location), std::nullopt);
  EXPECT_TRUE(fs::is_directory(fs::path(location.path).parent_path()));
  EXPECT_FALSE(fs::exists(location.path)) << "the defaults need no file";
}

TEST_F(PreparedSettingsFile, AFileBesideAWritableProgramIsLeftAlone) {
  const SettingsFileLocation beside{location.besideProgram, location.besideProgram};
  EXPECT_EQ(PrepareSettingsFile(beside), std::nullopt);
  EXPECT_FALSE(fs::exists(dir / "home"));
}

TEST_F(PreparedSettingsFile, AFolderThatCannotBeMadeIsReportedAndTheSaveSaysWhatToDo) {
  // A file where the configuration folder should be: no one, root included, makes it.
  fs::create_directories(dir / "home");
  Write((dir / "home" / ".config").string(), "");
  Write(location.besideProgram, "[Settings]\nPID=12\n");
  const std::optional<std::string> problem = PrepareSettingsFile(location);
  ASSERT_TRUE(problem.has_value());
  EXPECT_NE(problem->find("calvora-audio-mixer"), std::string::npos) << *problem;

  const std::string shown =
      SettingsErrorForUser("Unable to write to " + location.path, location.path, true);
  EXPECT_NE(shown.find("The folder " + fs::path(location.path).parent_path().string()),
            std::string::npos)
      << shown;
  EXPECT_EQ(shown.find("copy the program"), std::string::npos) << shown;
}

}  // namespace
}  // namespace calvora::app
