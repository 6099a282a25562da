#include "platform/posix/IniProfileFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <random>

#include "TempDir.h"

namespace calvora::platform::posix {
namespace {

using testing::ModeOf;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

class SettingsIniFile : public ::testing::Test {
 protected:
  TempDir dir_;
  std::string path_ = dir_.Path("calvora.ini");
  IniProfileFile ini_{path_};
};

TEST_F(SettingsIniFile, NamesIgnoreCaseAndTheFirstOccurrenceWins) {
  WriteFile(path_,
            "[settings]\n"
            "PID=1\n"
            "pid=2\n"
            "[SETTINGS]\n"
            "Pid=3\n"
            "Hide=1\n");
  EXPECT_EQ(ini_.ReadString("Settings", "PID"), "1");
  // As in Windows, a repeated section is not looked at: a key only there is not found, and a
  // write goes where a read looks, at the end of the first block.
  EXPECT_EQ(ini_.ReadString("Settings", "HIDE"), std::nullopt);
  ASSERT_TRUE(ini_.WriteString("Settings", "hide", "0"));
  EXPECT_EQ(ini_.ReadString("Settings", "Hide"), "0");
  EXPECT_EQ(ReadFile(path_),
            "[settings]\n"
            "PID=1\n"
            "pid=2\n"
            "hide=0\n"
            "[SETTINGS]\n"
            "Pid=3\n"
            "Hide=1\n");
}

// What the Windows profile functions read from a file (GetPrivateProfileString under Wine, and
// Wine's checks of it against Windows), key by key.
TEST_F(SettingsIniFile, ReadsLinesBlanksQuotesAndSectionsAsTheWindowsFunctionsDo) {
  struct Case {
    std::string content;
    std::string section;
    std::string key;
    std::optional<std::string> expected;
  };
  const std::vector<Case> cases = {
      {"[S]\r\r\nPID=4321\r\r\nSourceMode=1\r\r\n", "S", "PID", "4321"},
      {"[S]\r\r\nPID=4321\r\r\nSourceMode=1\r\r\n", "S", "SourceMode", "1"},
      {"[S]\rA=1\rB=2\r", "S", "B", "2"},
      {"[S]\nv=\x0B\x0C x y\t\x1A\n", "S", "v", "x y"},
      {"\x1A[S]\x0B\nv=1\n", "S", "v", "1"},
      {"[S]\nq='single'\n", "S", "q", "single"},
      {"[S]\nq=\"double\"\n", "S", "q", "double"},
      {"[S]\nq='mixed\"\n", "S", "q", "'mixed\""},
      {"[S]\nq='\n", "S", "q", "'"},
      {"[S]\nq=  ' padded '  \n", "S", "q", " padded "},
      {"[ Mixer ]\nm=1\n", "Mixer", "m", "1"},
      {"[Mixer] ; note\nm=1\n", "Mixer", "m", "1"},
      {"[D]x]\nd=1\n", "D]x", "d", "1"},
      {"[D]x]\nd=1\n", "D", "d", std::nullopt},
      {"[A]\nx=1\n[B]\ny=2\n[A]\nz=3\n", "A", "z", std::nullopt},
  };
  for (const Case& c : cases) {
    WriteFile(path_, c.content);
    EXPECT_EQ(ini_.ReadString(c.section, c.key), c.expected)
        << c.section << "/" << c.key << " in " << ::testing::PrintToString(c.content);
  }
}

TEST_F(SettingsIniFile, ValuesAreTrimmedUnquotedAndReadFromCrlfLines) {
  WriteFile(path_,
            "\xEF\xBB\xBF[A]\r\n"
            "  key  =   \"  x y \"  \r\n"
            "plain= v w \r\n"
            "empty=\r\n"
            "half=\"open\r\n"
            "; comment=1\r\n"
            "noequals\r\n");
  EXPECT_EQ(ini_.ReadString("a", "KEY"), "  x y ");
  EXPECT_EQ(ini_.ReadString("A", "plain"), "v w");
  EXPECT_EQ(ini_.ReadString("A", "empty"), "");
  EXPECT_EQ(ini_.ReadString("A", "half"), "\"open");
  EXPECT_EQ(ini_.ReadString("A", "; comment"), std::nullopt);
  EXPECT_EQ(ini_.ReadString("A", "noequals"), std::nullopt);
  EXPECT_EQ(ini_.ReadString("B", "plain"), std::nullopt);
}

// Only the lines of keys that get a new value are written anew, with the line end they had;
// new lines take the file's first line end. Every other line comes back byte for byte, bytes
// that are not UTF-8 and the missing last line end included.
TEST_F(SettingsIniFile, WriteChangesOnlyItsKeysAndKeepsEveryOtherByte) {
  WriteFile(path_,
            "; settings of the mixer \xE9t\xE9\r\n"
            "[Settings]\r\n"
            "  PID = 7\n"
            "  Other = keep me \r\n"
            "\r\n"
            "# trailing comment\r\r\n"
            "[Foreign]\r\n"
            "x=\xFF\xFE y");
  ASSERT_TRUE(ini_.WriteStrings({{"settings", "pid", "8"},
                                 {"Settings", "Other", "keep me"},
                                 {"Settings", "Hide", "1"},
                                 {"Mixer", "Wait", "10"}}));
  EXPECT_EQ(ReadFile(path_),
            "; settings of the mixer \xE9t\xE9\r\n"
            "[Settings]\r\n"
            "  PID=8\n"
            "  Other = keep me \r\n"
            "Hide=1\r\n"
            "\r\n"
            "# trailing comment\r\r\n"
            "[Foreign]\r\n"
            "x=\xFF\xFE y\r\n"
            "\r\n"
            "[Mixer]\r\n"
            "Wait=10\r\n");
}

// Bytes of UTF-16 text, with its mark; an unpaired surrogate goes in as it stands.
std::string Utf16(std::u16string_view text, bool bigEndian = false) {
  std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (const char16_t c : text) {
    const auto high = static_cast<char>(c >> 8);
    const auto low = static_cast<char>(c & 0xFF);
    bytes += bigEndian ? high : low;
    bytes += bigEndian ? low : high;
  }
  return bytes;
}

// Files as Windows editors save them read as the Windows build reads them, and a save keeps
// the encoding, the mark and the line ends; what does not decode (a lone surrogate, an odd
// last byte) stays where it was.
TEST_F(SettingsIniFile, FilesFromWindowsAreReadAndSavedInTheirOwnEncoding) {
  struct Case {
    const char* name;
    std::string bytes;
    std::string saved;
  };
  const std::vector<Case> cases = {
      {"UTF-16 LE from Notepad",
       Utf16(u"; Stati\xD800n\r\n[Settings]\r\nPID=4321\r\n[Soundcard]\r\nCard=Mikrofon "
             u"\u00FC\u03A9\r\n") +
           "\x01",
       Utf16(u"; Stati\xD800n\r\n[Settings]\r\nPID=4321\r\n[Soundcard]\r\nCard=Line \u96EA\r\n"
             u"\r\n[Mixer]\r\nWait=9\r\n") +
           "\x01"},
      {"UTF-16 BE, LF",
       Utf16(u"[Settings]\nPID=4321\n[Soundcard]\nCard=Mikrofon \u00FC\u03A9\n", true),
       Utf16(u"[Settings]\nPID=4321\n[Soundcard]\nCard=Line \u96EA\n\n[Mixer]\nWait=9\n", true)},
      {"UTF-8 with a mark",
       "\xEF\xBB\xBF[Settings]\r\nPID=4321\r\n[Soundcard]\r\nCard=Mikrofon \xC3\xBC\xCE\xA9\r\n",
       "\xEF\xBB\xBF[Settings]\r\nPID=4321\r\n[Soundcard]\r\nCard=Line \xE9\x9B\xAA\r\n\r\n"
       "[Mixer]\r\nWait=9\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(path_, c.bytes);
    EXPECT_EQ(ini_.ReadString("settings", "PID"), "4321");
    EXPECT_EQ(ini_.ReadString("Soundcard", "Card"), "Mikrofon \xC3\xBC\xCE\xA9");
    ASSERT_TRUE(ini_.WriteStrings({{"Settings", "PID", "4321"},
                                   {"Soundcard", "Card", "Line \xE9\x9B\xAA"},
                                   {"Mixer", "Wait", "9"}}));
    EXPECT_EQ(ReadFile(path_), c.saved);
    EXPECT_EQ(ini_.ReadString("Soundcard", "Card"), "Line \xE9\x9B\xAA");
  }
}

TEST_F(SettingsIniFile, AwkwardValuesComeBackAsWritten) {
  const std::string longValue(3000, 'v');
  for (const std::string value : {"", "  leading", "trailing\t", "\"quoted\"", "\"", "a=b;c#d",
                                  "'single'", "'", "tab\x0B", "\x1A", "'a\"", "it's"}) {
    ASSERT_TRUE(ini_.WriteString("A", "k", value)) << value;
    EXPECT_EQ(ini_.ReadString("A", "k"), value);
  }
  // Reading gives at most what the classic API's buffer holds.
  ASSERT_TRUE(ini_.WriteString("A", "long", longValue));
  EXPECT_EQ(ini_.ReadString("A", "long"), longValue.substr(0, 2047));
}

TEST_F(SettingsIniFile, RefusesWhatWouldBreakTheLineStructure) {
  ASSERT_TRUE(ini_.WriteString("A", "k", "1"));
  const std::string before = ReadFile(path_);
  EXPECT_FALSE(ini_.WriteString("A", "k", "1\n[Injected]\nk=2"));
  EXPECT_FALSE(ini_.WriteString("A", "k", "1\r2"));
  EXPECT_FALSE(ini_.WriteString("A", "k", std::string_view("1\0002", 3)));
  EXPECT_FALSE(ini_.WriteString("A]", "k", "1"));
  EXPECT_FALSE(ini_.WriteString("A", "k=", "1"));
  EXPECT_EQ(ReadFile(path_), before);
}

TEST_F(SettingsIniFile, BinaryContentReadsWithoutCrashAndCanBeWritten) {
  std::mt19937 random(7);
  std::string bytes(64 * 1024, '\0');
  for (char& c : bytes)
    c = static_cast<char>(random());
  bytes += std::string("\n[A]\nk=\0\0x\n", 11);
  WriteFile(path_, bytes);
  EXPECT_EQ(ini_.ReadString("A", "k"), std::string("\0\0x", 3));
  EXPECT_EQ(ini_.ReadString("Settings", "PID"), std::nullopt);
  ASSERT_TRUE(ini_.WriteString("A", "k", "1"));
  EXPECT_EQ(ini_.ReadString("A", "k"), "1");
}

TEST_F(SettingsIniFile, SeveralKeysGoInOneReplacementInOrderOrNotAtAll) {
  WriteFile(path_, "[Mixer]\nWait=5\n; kept\n");
  ASSERT_TRUE(ini_.WriteStrings(
      {{"Settings", "PID", "7"}, {"Mixer", "Wait", "9"}, {"Mixer", "Level0", "128"}}));
  EXPECT_EQ(ReadFile(path_), "[Mixer]\nWait=9\nLevel0=128\n; kept\n\n[Settings]\nPID=7\n");
  const std::string before = ReadFile(path_);
  EXPECT_FALSE(ini_.WriteStrings({{"Settings", "PID", "8"}, {"Mixer", "Card", "a\rb"}}));
  EXPECT_EQ(ReadFile(path_), before);
}

TEST_F(SettingsIniFile, TemporaryFilesOfKilledWritesGoWithTheNextWrite) {
  WriteFile(dir_.Path("calvora.ini.tmp-Ab3xYz"), "[Settings]\nPID=");
  WriteFile(dir_.Path("calvora.ini.tmp-longer1"), "not ours");
  WriteFile(dir_.Path("other.ini.tmp-Ab3xYz"), "another file's");
  ASSERT_EQ(symlink(dir_.Path("other.ini.tmp-Ab3xYz").c_str(),
                    dir_.Path("calvora.ini.tmp-Link12").c_str()),
            0);
  ASSERT_TRUE(ini_.WriteString("Settings", "PID", "1"));
  EXPECT_EQ(dir_.Files(),
            (std::vector<std::string>{"calvora.ini", "calvora.ini.tmp-Link12",
                                      "calvora.ini.tmp-longer1", "other.ini.tmp-Ab3xYz"}));
  EXPECT_EQ(ReadFile(dir_.Path("other.ini.tmp-Ab3xYz")), "another file's");
}

TEST_F(SettingsIniFile, TheNewContentIsOnDiskBeforeItReplacesTheFile) {
  std::vector<std::string> calls;
  bool syncFails = false;
  IniProfileFile::DurableCalls watched;
  watched.sync = [&](int fd) {
    struct stat st {};
    fstat(fd, &st);
    calls.push_back(S_ISDIR(st.st_mode) ? "sync folder" : "sync file");
    if (syncFails) {
      errno = EIO;
      return -1;
    }
    return fsync(fd);
  };
  watched.rename = [&](const char* from, const char* to) {
    calls.push_back("rename");
    return rename(from, to);
  };
  IniProfileFile ini(path_, watched);
  ASSERT_TRUE(ini.WriteString("A", "k", "1"));
  ASSERT_TRUE(ini.WriteString("A", "k", "2"));
  EXPECT_EQ(calls, (std::vector<std::string>{"sync file", "rename", "sync folder", "sync file",
                                             "rename", "sync folder"}));

  // Content that did not reach the disk never replaces the file.
  calls.clear();
  syncFails = true;
  EXPECT_FALSE(ini.WriteString("A", "k", "3"));
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "rename"), 0);
  EXPECT_EQ(ReadFile(path_), "[A]\nk=2\n");
  EXPECT_EQ(dir_.Files(), std::vector<std::string>{"calvora.ini"});
}

TEST_F(SettingsIniFile, ReadOnlyFolderIsRefusedAndLeftIntact) {
  ASSERT_TRUE(ini_.WriteString("A", "k", "1"));
  const std::string before = ReadFile(path_);
  chmod(dir_.Root().c_str(), 0555);
  EXPECT_FALSE(ini_.WriteString("A", "k", "2"));
  IniProfileFile fresh(dir_.Path("new.ini"));
  EXPECT_FALSE(fresh.WriteString("A", "k", "2"));
  chmod(dir_.Root().c_str(), 0700);
  EXPECT_EQ(ReadFile(path_), before);
  EXPECT_EQ(dir_.Files(), std::vector<std::string>{"calvora.ini"});
}

TEST_F(SettingsIniFile, ReplacingKeepsModeAndFollowsSymbolicLinks) {
  ASSERT_TRUE(ini_.WriteString("A", "k", "1"));
  chmod(path_.c_str(), 0640);
  ASSERT_TRUE(ini_.WriteString("A", "k", "2"));
  EXPECT_EQ(ModeOf(path_), 0640u);

  const std::string link = dir_.Path("link.ini");
  ASSERT_EQ(symlink(path_.c_str(), link.c_str()), 0);
  IniProfileFile viaLink(link);
  ASSERT_TRUE(viaLink.WriteString("A", "k", "3"));
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(ini_.ReadString("A", "k"), "3");
}

TEST_F(SettingsIniFile, SomethingThatIsNotAFileIsNeitherReadNorReplaced) {
  std::filesystem::create_directory(path_);
  WriteFile(path_ + "/inside", "x");
  EXPECT_FALSE(ini_.Exists());
  EXPECT_EQ(ini_.ReadString("A", "k"), std::nullopt);
  EXPECT_FALSE(ini_.WriteString("A", "k", "1"));
  // Even forced, the failed rename leaves no temporary file behind.
  EXPECT_FALSE(IniProfileFile::ReplaceFile(path_, "[A]\nk=1\n", 0644));
  EXPECT_EQ(dir_.Files(), std::vector<std::string>{"calvora.ini"});
}

}  // namespace
}  // namespace calvora::platform::posix
