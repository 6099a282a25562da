#include "platform/win32/Win32ProfileFile.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/win32/WideText.h"
#include "platform/win32/Win32RunKeys.h"
#include "settings/Settings.h"

namespace calvora::platform::win32 {
namespace {

// A fresh folder with blanks and non-ASCII letters in its name, removed afterwards.
class Win32ProfileFileTest : public ::testing::Test {
 protected:
  Win32ProfileFileTest() {
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, temp);
    folder_ = std::filesystem::path(temp) /
              (L"Calvora Prüfung " + std::to_wstring(GetCurrentProcessId()) + L" " +
               std::to_wstring(GetTickCount()));
    std::filesystem::create_directories(folder_);
  }
  ~Win32ProfileFileTest() override {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder_, ec))
      SetFileAttributesW(entry.path().c_str(), FILE_ATTRIBUTE_NORMAL);
    std::filesystem::remove_all(folder_, ec);
  }

  std::string Utf8Path(const std::wstring& name) const {
    return Narrow((folder_ / name).wstring());
  }

  std::string Content(const std::wstring& name) const {
    std::ifstream in(folder_ / name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  void Put(const std::wstring& name, std::string_view bytes) const {
    std::ofstream(folder_ / name, std::ios::binary) << bytes;
  }

  // What the system's own profile function reads from the file.
  std::string SystemReads(const std::wstring& name, const wchar_t* section, const wchar_t* key) {
    wchar_t value[256] = {};
    GetPrivateProfileStringW(section, key, L"<absent>", value, 256, (folder_ / name).c_str());
    return Narrow(value);
  }

  size_t FileCount() const {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(folder_),
                                             std::filesystem::directory_iterator()));
  }

  std::filesystem::path folder_;
};

TEST_F(Win32ProfileFileTest, KeysWrittenTogetherAreReadBackAndOthersKept) {
  {
    std::ofstream(folder_ / L"Mixer ä.ini", std::ios::binary)
        << "; station notes\r\n[soundcard]\r\nDevice=Line In\r\n[Other]\r\nKeep=yes\r\n";
  }
  Win32ProfileFile ini(Utf8Path(L"Mixer ä.ini"));
  ASSERT_TRUE(ini.Exists());
  EXPECT_EQ(ini.ReadString("SOUNDCARD", "device"), "Line In");

  ASSERT_TRUE(ini.WriteStrings({{"Soundcard", "Device", "Mikrofon (USB) ü"},
                                {"Settings", "SilenceTime", "12"},
                                {"Soundcard", "Padded", " blank ends "}}));
  // The file was plain ASCII, so it stays in the ANSI code page, with Windows' line ends.
  EXPECT_EQ(
      Content(L"Mixer ä.ini"),
      "; station notes\r\n[soundcard]\r\nDevice=Mikrofon (USB) \xFC\r\n"
      "Padded=\" blank ends \"\r\n[Other]\r\nKeep=yes\r\n\r\n[Settings]\r\nSilenceTime=12\r\n");
  EXPECT_EQ(SystemReads(L"Mixer ä.ini", L"Soundcard", L"Device"), "Mikrofon (USB) ü");
  EXPECT_EQ(ini.ReadString("Soundcard", "Padded"), " blank ends ");
  EXPECT_EQ(ini.ReadString("Other", "Keep"), "yes");
  EXPECT_EQ(ini.ReadString("Other", "Missing"), std::nullopt);
  EXPECT_EQ(FileCount(), 1u) << "no temporary file is left beside the settings file";
}

TEST_F(Win32ProfileFileTest, ANewFileIsCreatedAndAMissingOneReadsAsAbsent) {
  Win32ProfileFile ini(Utf8Path(L"new.ini"));
  EXPECT_FALSE(ini.Exists());
  EXPECT_EQ(ini.ReadString("Settings", "Any"), std::nullopt);
  ASSERT_TRUE(ini.WriteString("Settings", "Interactive", "1"));
  EXPECT_TRUE(ini.Exists());
  EXPECT_EQ(Content(L"new.ini"), "[Settings]\r\nInteractive=1\r\n");
}

std::string Utf16(std::wstring_view text, bool bigEndian = false) {
  std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (const wchar_t c : text) {
    const char high = static_cast<char>(c >> 8);
    const char low = static_cast<char>(c & 0xFF);
    bytes += bigEndian ? high : low;
    bytes += bigEndian ? low : high;
  }
  return bytes;
}

// Each file is read as the system's profile function reads it, and a save keeps the file's
// encoding: UTF-16 either way round, UTF-8 after a mark or as written before, the ANSI code page
// (Windows-1252 here) until a value needs a character it lacks.
TEST_F(Win32ProfileFileTest, EveryEncodingIsReadAsTheSystemReadsItAndKeptOnSave) {
  struct Case {
    std::wstring name;
    std::string bytes;
    std::string newCard;
    std::string saved;
  };
  const std::vector<Case> cases = {
      {L"le.ini", Utf16(L"[Soundcard]\r\nCard=Mikrofon \u00FC\u03A9\r\n"), "Line \u96EA",
       Utf16(L"[Soundcard]\r\nCard=Line \u96EA\r\n")},
      {L"be.ini", Utf16(L"[Soundcard]\r\nCard=Mikrofon \u00FC\u03A9\r\n", true), "Line \u96EA",
       Utf16(L"[Soundcard]\r\nCard=Line \u96EA\r\n", true)},
      {L"ansi.ini", "[Soundcard]\r\nCard=Mikrofon \xFC\r\n", "Line \u00E9",
       "[Soundcard]\r\nCard=Line \xE9\r\n"},
      {L"ansi-more.ini", "[Soundcard]\r\nCard=Mikrofon \xFC\r\n[Mixer]\r\nDevice0=Pult \xE4\r\n",
       "Line \u03A9",
       Utf16(L"[Soundcard]\r\nCard=Line \u03A9\r\n[Mixer]\r\nDevice0=Pult \u00E4\r\n")},
      {L"utf8.ini", "[Soundcard]\nCard=Mikrofon \xC3\xBC\n", "Line \u03A9",
       "[Soundcard]\nCard=Line \xCE\xA9\n"},
      {L"utf8-mark.ini", "\xEF\xBB\xBF[Soundcard]\r\nCard=Mikrofon \xC3\xBC\r\n", "Line \u03A9",
       "\xEF\xBB\xBF[Soundcard]\r\nCard=Line \xCE\xA9\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.name));
    Put(c.name, c.bytes);
    Win32ProfileFile ini(Utf8Path(c.name));
    if (c.name != L"utf8.ini") {  // the system reads a file without a mark as ANSI
      EXPECT_EQ(ini.ReadString("Soundcard", "Card"), SystemReads(c.name, L"Soundcard", L"Card"));
    }
    EXPECT_EQ(ini.ReadString("Soundcard", "Card")->substr(0, 9), "Mikrofon ");
    ASSERT_TRUE(ini.WriteString("Soundcard", "Card", c.newCard));
    EXPECT_EQ(Content(c.name), c.saved);
    EXPECT_EQ(ini.ReadString("Soundcard", "Card"), c.newCard);
  }
  EXPECT_EQ(SystemReads(L"ansi-more.ini", L"Mixer", L"Device0"), "Pult \u00E4");
}

// A save writes only the line of the key it changes, in the file's encoding and with that
// line's own line end; every other line keeps its bytes, those that do not decode included (a
// lone surrogate, an odd last byte), and the system's own profile function reads the result
// whole.
TEST_F(Win32ProfileFileTest, LinesNotSetComeBackByteForByteUnderWine) {
  const std::string lastByte = "\x0A";
  Put(L"notepad.ini", Utf16(L"; Studio \xD83D B\r\n[Settings]\nPID=4321\n[Soundcard]\r\n"
                            L"Card=Mikrofon\r\nKeep= \xDC00 \r\n") +
                          lastByte);
  Win32ProfileFile ini(Utf8Path(L"notepad.ini"));
  EXPECT_EQ(ini.ReadString("Settings", "PID"), "4321");
  ASSERT_TRUE(ini.WriteStrings({{"Settings", "PID", "4321"},
                                {"Soundcard", "Card", "Line \u96EA"},
                                {"Settings", "Hide", "1"}}));
  EXPECT_EQ(Content(L"notepad.ini"),
            Utf16(L"; Studio \xD83D B\r\n[Settings]\nPID=4321\nHide=1\r\n[Soundcard]\r\n"
                  L"Card=Line \u96EA\r\nKeep= \xDC00 \r\n") +
                lastByte);
  EXPECT_EQ(SystemReads(L"notepad.ini", L"Settings", L"PID"), "4321");
  EXPECT_EQ(SystemReads(L"notepad.ini", L"Settings", L"Hide"), "1");
  EXPECT_EQ(SystemReads(L"notepad.ini", L"Soundcard", L"Card"), "Line \u96EA");
}

// A file whose lines end in CR CR LF (what "\r\n" through a text-mode stream leaves) gives
// every number and switch, not only its texts.
TEST_F(Win32ProfileFileTest, SettingsFromCrCrLfLinesLoadWhole) {
  Put(L"crcrlf.ini",
      "[Settings]\r\r\nPID=4321\r\r\nSourceMode=1\r\r\n[Soundcard]\r\r\nCard=USB\r\r\n");
  Win32ProfileFile ini(Utf8Path(L"crcrlf.ini"));
  Win32RunKeys unused(L"Software\\Calvora Tests\\Unused");
  settings::SettingsStore store(ini, unused, "", nullptr);
  ASSERT_TRUE(store.LoadSettings());
  EXPECT_EQ(settings::Settings.PID, 4321);
  EXPECT_TRUE(settings::Settings.SourceMode);
  EXPECT_EQ(settings::Settings.Card, "USB");
}

TEST_F(Win32ProfileFileTest, AFileThatCannotBeWrittenIsLeftExactlyAsItWas) {
  const std::string original = "[Settings]\r\nFadeIn=2\r\n";
  std::ofstream(folder_ / L"locked.ini", std::ios::binary) << original;
  SetFileAttributesW((folder_ / L"locked.ini").c_str(), FILE_ATTRIBUTE_READONLY);
  Win32ProfileFile readOnly(Utf8Path(L"locked.ini"));
  EXPECT_FALSE(readOnly.WriteString("Settings", "FadeIn", "3"));
  EXPECT_EQ(Content(L"locked.ini"), original);

  // A key that would break the line structure refuses the whole write.
  SetFileAttributesW((folder_ / L"locked.ini").c_str(), FILE_ATTRIBUTE_NORMAL);
  Win32ProfileFile ini(Utf8Path(L"locked.ini"));
  EXPECT_FALSE(ini.WriteStrings({{"Settings", "FadeIn", "3"}, {"Settings", "Bad\nKey", "1"}}));
  EXPECT_EQ(Content(L"locked.ini"), original);

  EXPECT_FALSE(Win32ProfileFile(Utf8Path(L"no folder\\x.ini")).WriteString("S", "K", "v"));
  std::filesystem::create_directory(folder_ / L"folder.ini");
  Win32ProfileFile folder(Utf8Path(L"folder.ini"));
  EXPECT_FALSE(folder.Exists());
  EXPECT_FALSE(folder.WriteString("S", "K", "v"));
  EXPECT_EQ(FileCount(), 2u);
}

TEST_F(Win32ProfileFileTest, AFileHeldOpenElsewhereHoldsTheOldOrTheNewContentNeverAPart) {
  std::ofstream(folder_ / L"open.ini", std::ios::binary) << "[S]\nK=old\n";
  // Another program reading the file and allowing others to replace it. Whether the system
  // lets the file be replaced meanwhile differs (Wine refuses); nothing may be lost either way.
  const HANDLE reader = CreateFileW((folder_ / L"open.ini").c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  Win32ProfileFile ini(Utf8Path(L"open.ini"));
  const bool written = ini.WriteString("S", "K", "new");
  CloseHandle(reader);
  EXPECT_EQ(ini.ReadString("S", "K"), written ? "new" : "old");
  EXPECT_EQ(FileCount(), 1u) << "the temporary file is removed when the replacement fails";
  EXPECT_TRUE(ini.WriteString("S", "K", "later"));
  EXPECT_EQ(ini.ReadString("S", "K"), "later");
}

TEST_F(Win32ProfileFileTest, TemporaryFilesLeftByKilledWritesGoWithTheNextWrite) {
  std::ofstream(folder_ / L"left.ini.tmp-AbC123", std::ios::binary) << "[S]\nK=par";
  std::ofstream(folder_ / L"left.ini.tmp-Busy42", std::ios::binary) << "[S]\nK=be";
  std::ofstream(folder_ / L"left.ini.tmp-notours", std::ios::binary) << "kept";
  // A write in progress elsewhere holds its temporary file open without sharing.
  const HANDLE busy = CreateFileW((folder_ / L"left.ini.tmp-Busy42").c_str(), GENERIC_WRITE, 0,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(busy, INVALID_HANDLE_VALUE);
  Win32ProfileFile ini(Utf8Path(L"left.ini"));
  EXPECT_TRUE(ini.WriteString("S", "K", "whole"));
  CloseHandle(busy);
  EXPECT_EQ(ini.ReadString("S", "K"), "whole");
  EXPECT_FALSE(std::filesystem::exists(folder_ / L"left.ini.tmp-AbC123"));
  EXPECT_TRUE(std::filesystem::exists(folder_ / L"left.ini.tmp-Busy42"));
  EXPECT_TRUE(std::filesystem::exists(folder_ / L"left.ini.tmp-notours"));
}

}  // namespace
}  // namespace calvora::platform::win32
