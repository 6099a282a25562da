#include "platform/posix/XdgRunKeys.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "TempDir.h"

namespace calvora::platform::posix {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

class SettingsRunKeys : public ::testing::Test {
 protected:
  TempDir dir_;
  std::string user_ = dir_.Path("user/autostart");
  std::string machine1_ = dir_.Path("machine1/autostart");
  std::string machine2_ = dir_.Path("machine2/autostart");
  XdgRunKeys keys_{user_, {machine1_, machine2_}};

  std::vector<RunValue> List(RunScope scope) {
    auto values = keys_.List(scope, false);
    return values ? *values : std::vector<RunValue>{};
  }
};

std::vector<std::string> Names(const std::vector<RunValue>& values) {
  std::vector<std::string> names;
  for (const RunValue& value : values)
    names.push_back(value.Name);
  return names;
}

TEST_F(SettingsRunKeys, WrittenEntryIsADesktopEntryWhoseCommandReadsBack) {
  ASSERT_TRUE(keys_.Write("DORozizIzuzo", "/opt/calvora/calvora-audio-mixer"));
  EXPECT_EQ(ReadFile(user_ + "/DORozizIzuzo.desktop"),
            "[Desktop Entry]\nType=Application\nName=Calvora Audio Mixer\n"
            "Exec=/opt/calvora/calvora-audio-mixer\nX-GNOME-Autostart-enabled=true\n");

  // Paths that need quoting and escaping come back exactly.
  const std::vector<std::string> paths = {"/opt/Calvora Mixer/calvora",
                                          "/a/$HOME/`x`/\"q\"/back\\slash/100%/%%u",
                                          "/tab\there/new\nline", ""};
  for (size_t i = 0; i < paths.size(); ++i)
    ASSERT_TRUE(keys_.Write("e" + std::to_string(i), paths[i]));
  EXPECT_NE(ReadFile(user_ + "/e0.desktop").find("Exec=\"/opt/Calvora Mixer/calvora\"\n"),
            std::string::npos);
  const std::vector<RunValue> values = List(RunScope::CurrentUser);
  ASSERT_EQ(values.size(), paths.size() + 1);
  for (size_t i = 0; i < paths.size(); ++i) {
    EXPECT_TRUE(values[i + 1].IsText);
    EXPECT_EQ(values[i + 1].Text, paths[i]);
  }

  // Writing again replaces the entry.
  ASSERT_TRUE(keys_.Write("e0", "/other"));
  EXPECT_EQ(List(RunScope::CurrentUser)[1].Text, "/other");
}

TEST_F(SettingsRunKeys, ListsOnlyDesktopFilesInNameOrder) {
  WriteFile(user_ + "/b.desktop", "[Desktop Entry]\nExec=/b\n");
  WriteFile(user_ + "/a.desktop", "[Desktop Entry]\nExec=/a\n");
  WriteFile(user_ + "/B.desktop", "[Desktop Entry]\nExec=/B\n");
  WriteFile(user_ + "/readme.txt", "[Desktop Entry]\nExec=/r\n");
  WriteFile(user_ + "/.desktop", "[Desktop Entry]\nExec=/none\n");
  WriteFile(user_ + "/c.desktop.bak", "[Desktop Entry]\nExec=/c\n");
  EXPECT_EQ(Names(List(RunScope::CurrentUser)), (std::vector<std::string>{"B", "a", "b"}));
}

TEST_F(SettingsRunKeys, AnythingButADesktopEntryWithExecIsNotText) {
  WriteFile(user_ + "/nogroup.desktop", "Exec=/x\n");
  WriteFile(user_ + "/noexec.desktop", "[Desktop Entry]\nName=x\n");
  WriteFile(user_ + "/othergroup.desktop",
            "[Desktop Entry]\nName=x\n[Desktop Action a]\nExec=/x\n");
  WriteFile(user_ + "/binary.desktop", std::string("\0\xff\xfe[\n\0", 6));
  std::filesystem::create_directories(user_ + "/folder.desktop");
  WriteFile(user_ + "/empty.desktop", "[Desktop Entry]\r\nExec=\r\n");
  WriteFile(user_ + "/args.desktop", "# c\n[Desktop Entry]\nName=x\nExec = /usr/bin/foo --bar \n");

  const std::vector<RunValue> values = List(RunScope::CurrentUser);
  ASSERT_EQ(Names(values), (std::vector<std::string>{"args", "binary", "empty", "folder", "noexec",
                                                     "nogroup", "othergroup"}));
  EXPECT_TRUE(values[0].IsText);
  EXPECT_EQ(values[0].Text, "/usr/bin/foo --bar");
  EXPECT_FALSE(values[1].IsText);
  EXPECT_TRUE(values[2].IsText);
  EXPECT_EQ(values[2].Text, "");
  for (size_t i = 3; i < values.size(); ++i)
    EXPECT_FALSE(values[i].IsText) << values[i].Name;
}

TEST_F(SettingsRunKeys, MissingListsOpenOnlyWhenCreatedAndMachineFoldersMerge) {
  EXPECT_EQ(keys_.List(RunScope::CurrentUser, false), std::nullopt);
  EXPECT_EQ(keys_.List(RunScope::LocalMachine, true), std::nullopt);
  EXPECT_FALSE(std::filesystem::exists(machine1_));
  const auto created = keys_.List(RunScope::CurrentUser, true);
  ASSERT_TRUE(created.has_value());
  EXPECT_TRUE(created->empty());
  EXPECT_TRUE(std::filesystem::is_directory(user_));

  // The first folder holding a name wins.
  WriteFile(machine2_ + "/shared.desktop", "[Desktop Entry]\nExec=/second\n");
  WriteFile(machine2_ + "/only2.desktop", "[Desktop Entry]\nExec=/only2\n");
  WriteFile(machine1_ + "/shared.desktop", "[Desktop Entry]\nExec=/first\n");
  const std::vector<RunValue> values = List(RunScope::LocalMachine);
  ASSERT_EQ(Names(values), (std::vector<std::string>{"only2", "shared"}));
  EXPECT_EQ(values[1].Text, "/first");
}

TEST_F(SettingsRunKeys, RemoveDeletesOnlyTheNamedUserEntry) {
  ASSERT_TRUE(keys_.Write("a", "/a"));
  ASSERT_TRUE(keys_.Write("b", "/b"));
  WriteFile(dir_.Path("user/outside.desktop"), "[Desktop Entry]\nExec=/o\n");
  EXPECT_TRUE(keys_.Remove("a"));
  EXPECT_FALSE(keys_.Remove("a"));
  EXPECT_FALSE(keys_.Remove("../outside"));
  EXPECT_FALSE(keys_.Write("../outside", "/x"));
  EXPECT_FALSE(keys_.Write("", "/x"));
  EXPECT_EQ(Names(List(RunScope::CurrentUser)), std::vector<std::string>{"b"});
  EXPECT_TRUE(std::filesystem::exists(dir_.Path("user/outside.desktop")));
}

// Sets an environment variable for the life of the object and puts the old state back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    old_ = had_ ? old : "";
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (had_)
      setenv(name_, old_.c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  bool had_ = false;
  std::string old_;
};

TEST_F(SettingsRunKeys, DefaultFoldersComeFromTheEnvironment) {
  const ScopedEnv home("XDG_CONFIG_HOME", dir_.Path("cfg"));
  // Relative and empty entries are ignored.
  const ScopedEnv dirs("XDG_CONFIG_DIRS", "relative::" + dir_.Path("machine1"));
  WriteFile(machine1_ + "/m.desktop", "[Desktop Entry]\nExec=/m\n");

  XdgRunKeys fromEnvironment;
  EXPECT_TRUE(fromEnvironment.Write("u", "/u"));
  EXPECT_TRUE(std::filesystem::exists(dir_.Path("cfg/autostart/u.desktop")));
  const auto machine = fromEnvironment.List(RunScope::LocalMachine, false);
  ASSERT_TRUE(machine.has_value());
  EXPECT_EQ(Names(*machine), std::vector<std::string>{"m"});
}

}  // namespace
}  // namespace calvora::platform::posix
