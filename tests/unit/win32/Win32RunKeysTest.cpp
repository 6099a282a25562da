#include "platform/win32/Win32RunKeys.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace calvora::platform::win32 {
namespace {

// A Run key of the test's own under both roots, removed afterwards.
class Win32RunKeysTest : public ::testing::Test {
 protected:
  Win32RunKeysTest()
      : path_(L"Software\\Calvora Tests\\Run " + std::to_wstring(GetCurrentProcessId())),
        keys_(path_) {}
  ~Win32RunKeysTest() override {
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

  std::wstring path_;
  Win32RunKeys keys_;
};

TEST_F(Win32RunKeysTest, TheUsersListIsWrittenListedAndRemoved) {
  EXPECT_EQ(keys_.List(RunScope::CurrentUser, false), std::nullopt);
  const auto created = keys_.List(RunScope::CurrentUser, true);
  ASSERT_TRUE(created.has_value());
  EXPECT_TRUE(created->empty());

  ASSERT_TRUE(keys_.Write("DORozizIzuzo1", "C:\\Programme\\Calvora ü\\calvora-audio-mixer.exe"));
  ASSERT_TRUE(keys_.Write("DORozizIzuzo", "C:\\Other.exe"));
  const auto listed = keys_.List(RunScope::CurrentUser, false);
  ASSERT_TRUE(listed.has_value());
  ASSERT_EQ(listed->size(), 2u);
  EXPECT_EQ((*listed)[0].Name, "DORozizIzuzo");
  EXPECT_EQ((*listed)[1].Name, "DORozizIzuzo1");
  EXPECT_TRUE((*listed)[1].IsText);
  EXPECT_EQ((*listed)[1].Text, "C:\\Programme\\Calvora ü\\calvora-audio-mixer.exe");

  EXPECT_TRUE(keys_.Remove("DORozizIzuzo"));
  EXPECT_FALSE(keys_.Remove("DORozizIzuzo")) << "a value that is gone cannot be removed";
  EXPECT_EQ(keys_.List(RunScope::CurrentUser, false)->size(), 1u);
}

TEST_F(Win32RunKeysTest, ValuesThatAreNotTextAreListedAsSuch) {
  const DWORD number = 7;
  SetRaw(HKEY_CURRENT_USER, L"Number", REG_DWORD, &number, sizeof number);
  const wchar_t expandable[] = L"%ProgramFiles%\\x.exe";
  SetRaw(HKEY_CURRENT_USER, L"Expandable", REG_EXPAND_SZ, expandable, sizeof expandable);
  SetRaw(HKEY_CURRENT_USER, L"Empty", REG_SZ, L"", 0);

  const auto listed = keys_.List(RunScope::CurrentUser, false);
  ASSERT_TRUE(listed.has_value());
  ASSERT_EQ(listed->size(), 3u);
  EXPECT_EQ((*listed)[0].Name, "Empty");
  EXPECT_TRUE((*listed)[0].IsText);
  EXPECT_EQ((*listed)[0].Text, "");
  EXPECT_EQ((*listed)[1].Name, "Expandable");
  EXPECT_TRUE((*listed)[1].IsText);
  EXPECT_EQ((*listed)[1].Text, "%ProgramFiles%\\x.exe") << "read as stored, not expanded";
  EXPECT_EQ((*listed)[2].Name, "Number");
  EXPECT_FALSE((*listed)[2].IsText);
}

// A 32-bit installer's entry lives in the 32-bit view (WOW6432Node); the native view comes first.
TEST_F(Win32RunKeysTest, TheMachinesListHoldsBothRegistryViews) {
  const wchar_t old32[] = L"C:\\Program Files (x86)\\Calvora\\calvora.exe";
  const wchar_t new64[] = L"C:\\Program Files\\Calvora\\calvora.exe";
  SetRaw(HKEY_LOCAL_MACHINE, L"Old", REG_SZ, old32, sizeof old32, KEY_WOW64_32KEY);
  SetRaw(HKEY_LOCAL_MACHINE, L"New", REG_SZ, new64, sizeof new64, KEY_WOW64_64KEY);
  const auto machine = keys_.List(RunScope::LocalMachine, false);
  ASSERT_TRUE(machine.has_value());
  ASSERT_EQ(machine->size(), 2u);
  EXPECT_EQ((*machine)[0].Name, "New");
  EXPECT_EQ((*machine)[1].Name, "Old");
  EXPECT_EQ((*machine)[1].Text, "C:\\Program Files (x86)\\Calvora\\calvora.exe");
  EXPECT_TRUE(keys_.NamesIgnoreCase());
}

TEST_F(Win32RunKeysTest, TheMachinesListIsReadButNeverCreatedOrChanged) {
  EXPECT_EQ(keys_.List(RunScope::LocalMachine, true), std::nullopt);
  const wchar_t path[] = L"C:\\Station\\calvora-audio-mixer.exe";
  SetRaw(HKEY_LOCAL_MACHINE, L"Station", REG_SZ, path, sizeof path);

  ASSERT_TRUE(keys_.Write("Station", "C:\\User.exe"));
  const auto machine = keys_.List(RunScope::LocalMachine, false);
  ASSERT_TRUE(machine.has_value());
  ASSERT_EQ(machine->size(), 1u);
  EXPECT_EQ((*machine)[0].Text, "C:\\Station\\calvora-audio-mixer.exe");
  EXPECT_TRUE(keys_.Remove("Station"));
  EXPECT_EQ(keys_.List(RunScope::LocalMachine, false)->size(), 1u);
}

}  // namespace
}  // namespace calvora::platform::win32
