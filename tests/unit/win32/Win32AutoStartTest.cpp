#include <windows.h>

#include <gtest/gtest.h>

#include "platform/win32/Win32ProfileFile.h"
#include "platform/win32/Win32RunKeys.h"
#include "settings/Settings.h"

namespace calvora::settings {
namespace {

// The autostart entry in a Run key of the test's own under the registry's roots, with the
// program path written as Windows writes it.
class Win32AutoStart : public ::testing::Test {
 protected:
  Win32AutoStart()
      : path_(L"Software\\Calvora Tests\\AutoStart " + std::to_wstring(GetCurrentProcessId())),
        runKeys_(path_),
        store_(ini_, runKeys_, kExe, [this](const std::string& e) { errors_.push_back(e); }) {}
  ~Win32AutoStart() override {
    RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, path_.c_str());
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path_.c_str(), KEY_WOW64_32KEY, 0);
  }

  void SetRaw(HKEY root, const wchar_t* name, DWORD type, const void* data, DWORD size,
              REGSAM view = 0) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(root, path_.c_str(), 0, nullptr, 0, KEY_SET_VALUE | view, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
  }

  std::vector<std::string> UserNames() {
    std::vector<std::string> names;
    for (const platform::RunValue& value : runKeys_.List(platform::RunScope::CurrentUser, false)
                                               .value_or(std::vector<platform::RunValue>{}))
      names.push_back(value.Name);
    return names;
  }

  static constexpr const char* kExe = "C:\\Programme\\Calvora Ü\\calvora-audio-mixer.exe";
  std::wstring path_;
  platform::win32::Win32ProfileFile ini_{"C:\\nowhere\\calvora.ini"};
  platform::win32::Win32RunKeys runKeys_;
  std::vector<std::string> errors_;
  SettingsStore store_;
};

TEST_F(Win32AutoStart, ANameTakenByAnotherProgramGetsANumberAndOffRemovesOnlyOurs) {
  ASSERT_TRUE(runKeys_.Write("DORozizIzuzo", "C:\\Other\\other.exe"));
  EXPECT_FALSE(store_.IsAutoStart());
  store_.SetAutoStart(true);
  store_.SetAutoStart(true);
  EXPECT_EQ(UserNames(), (std::vector<std::string>{"DORozizIzuzo", "DORozizIzuzo1"}));
  EXPECT_TRUE(store_.IsAutoStart());

  // An entry of ours under a name of the user's, in other (ASCII) letter case, counts too.
  ASSERT_TRUE(runKeys_.Write("Mine", "c:\\programme\\calvora Ü\\CALVORA-AUDIO-MIXER.EXE"));
  store_.SetAutoStart(false);
  EXPECT_EQ(UserNames(), std::vector<std::string>{"DORozizIzuzo"});
  EXPECT_FALSE(store_.IsAutoStart());
  EXPECT_TRUE(errors_.empty());
}

// The registry ignores letter case in value names: writing "DORozizIzuzo" would replace
// another program's "dorozizizuzo".
TEST_F(Win32AutoStart, ANameTakenInAnotherLetterCaseIsTaken) {
  ASSERT_TRUE(runKeys_.Write("dorozizizuzo", "C:\\Other\\other.exe"));
  store_.SetAutoStart(true);
  const auto user = runKeys_.List(platform::RunScope::CurrentUser, false);
  ASSERT_TRUE(user.has_value());
  ASSERT_EQ(user->size(), 2u);
  for (const platform::RunValue& value : *user) {
    EXPECT_EQ(value.Text, value.Name == "dorozizizuzo" ? "C:\\Other\\other.exe" : kExe);
    EXPECT_TRUE(value.Name == "dorozizizuzo" || value.Name == "DORozizIzuzo1") << value.Name;
  }
}

TEST_F(Win32AutoStart, TheMachinesEntryCountsButIsNeverRemoved) {
  const std::wstring exe = L"C:\\Programme\\Calvora Ü\\calvora-audio-mixer.exe";
  SetRaw(HKEY_LOCAL_MACHINE, L"Station", REG_SZ, exe.c_str(),
         static_cast<DWORD>((exe.size() + 1) * sizeof(wchar_t)));
  EXPECT_TRUE(store_.IsAutoStart());
  store_.SetAutoStart(false);
  EXPECT_TRUE(store_.IsAutoStart());
}

// A 32-bit installer's entry in the 32-bit view counts, past values that are no text in either
// view: the dialog's box shows it, and ticking it adds no second start at logon.
TEST_F(Win32AutoStart, TheMachinesEntryCountsPastBinaryValuesInBothViewsUnderWine) {
  const std::wstring exe = L"C:\\Programme\\Calvora Ü\\calvora-audio-mixer.exe";
  const BYTE binary[] = {0x02, 0x00, 0x00, 0x00};
  SetRaw(HKEY_LOCAL_MACHINE, L"Binary", REG_BINARY, binary, sizeof binary, KEY_WOW64_64KEY);
  SetRaw(HKEY_LOCAL_MACHINE, L"Binary", REG_BINARY, binary, sizeof binary, KEY_WOW64_32KEY);
  SetRaw(HKEY_LOCAL_MACHINE, L"Station", REG_SZ, exe.c_str(),
         static_cast<DWORD>((exe.size() + 1) * sizeof(wchar_t)), KEY_WOW64_32KEY);
  EXPECT_TRUE(store_.IsAutoStart());
  store_.SetAutoStart(true);
  EXPECT_TRUE(UserNames().empty());
  EXPECT_TRUE(errors_.empty()) << "the machine's list is read quietly";
}

TEST_F(Win32AutoStart, AUserValueThatIsNoTextIsReportedByName) {
  const DWORD number = 1;
  SetRaw(HKEY_CURRENT_USER, L"Numbers", REG_DWORD, &number, sizeof number);
  store_.SetAutoStart(true);
  ASSERT_FALSE(errors_.empty());
  EXPECT_EQ(errors_.front(), "Invalid data type for 'Numbers'");
  EXPECT_EQ(UserNames(), std::vector<std::string>{"Numbers"});
}

}  // namespace
}  // namespace calvora::settings
