#include <gtest/gtest.h>

#include <random>

#include "TempDir.h"
#include "platform/posix/IniProfileFile.h"
#include "platform/posix/XdgRunKeys.h"
#include "settings/Settings.h"

namespace calvora::settings {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

// The real INI file, refusing one key as it refuses a text it cannot hold.
class FailingProfileFile : public platform::ProfileFile {
 public:
  FailingProfileFile(platform::ProfileFile& file, std::string failingKey)
      : file_(file), failingKey_(std::move(failingKey)) {}
  const std::string& Path() const override { return file_.Path(); }
  bool Exists() const override { return file_.Exists(); }
  std::optional<std::string> ReadString(std::string_view section, std::string_view key) override {
    return file_.ReadString(section, key);
  }
  bool WriteString(std::string_view section, std::string_view key,
                   std::string_view value) override {
    return WriteStrings({{std::string(section), std::string(key), std::string(value)}});
  }
  bool WriteStrings(const std::vector<platform::ProfileValue>& values) override {
    ++writes;
    for (const auto& v : values) {
      keys.push_back(v.Section + "/" + v.Key);
      if (v.Key == failingKey_)
        return false;
    }
    return file_.WriteStrings(values);
  }
  int writes = 0;
  std::vector<std::string> keys;

 private:
  platform::ProfileFile& file_;
  std::string failingKey_;
};

class SettingsFile : public ::testing::Test {
 protected:
  void SetUp() override {
    Settings = SettingsRecord{};
    CardChanged = MixerDeviceChanged = MixerLinesChanged = MixerLevelChanged = false;
  }

  SettingsStore StoreOn(platform::ProfileFile& file) {
    return SettingsStore(file, runKeys_, exe_,
                         [this](const std::string& m) { errors_.push_back(m); });
  }

  // Loads a file of this content into the record.
  void Load(const std::string& content) {
    WriteFile(iniPath_, content);
    store_.LoadSettings();
  }

  TempDir dir_;
  std::string iniPath_ = dir_.Path("Calvora Audio Mixer.ini");
  std::string exe_ = dir_.Path("bin/Calvora Audio Mixer");
  std::string userRun_ = dir_.Path("user");
  std::string machineRun_ = dir_.Path("machine");
  platform::posix::IniProfileFile ini_{iniPath_};
  platform::posix::XdgRunKeys runKeys_{userRun_, {machineRun_}};
  std::vector<std::string> errors_;
  SettingsStore store_ = StoreOn(ini_);
};

SettingsRecord NonDefaultRecord() {
  SettingsRecord s;
  s.PID = -123;
  s.Hide = true;
  s.UseSoundCard = true;
  s.UseMixer = true;
  s.SourceMode = true;
  s.Card = "  USB Audio [card 2] ; \"front\"  ";
  s.Bitrate = 32000;
  s.SilenceLevel = -38.5;
  s.SilenceTime = 0.1;
  s.RestoreTime = 2.71828182845905;  // all 15 significant digits a save keeps
  s.CardWait = 180;
  s.LRControl = true;
  s.OnlyDown = true;
  s.FadeOut = 1e-7;
  s.FadeIn = 10;
  s.MixerWait = 5;
  s.SetLevel = true;
  s.Lines[0] = {"HDA Intel PCH", 1, 2, 255 * 257};
  s.Lines[1] = {"Virtual Mixer", -1, -1, 0};
  return s;
}

TEST_F(SettingsFile, WithoutAFileEveryFieldHasItsDefault) {
  Settings = NonDefaultRecord();
  EXPECT_FALSE(store_.LoadSettings());
  EXPECT_FALSE(ini_.Exists());
  const SettingsRecord& s = Settings;
  EXPECT_EQ(s.PID, 0);
  EXPECT_FALSE(s.Hide || s.UseSoundCard || s.UseMixer || s.SourceMode);
  EXPECT_EQ(s.Card, "");
  EXPECT_EQ(s.Bitrate, 48000);
  EXPECT_EQ(s.SilenceLevel, -38.0);
  EXPECT_EQ(s.SilenceTime, 10.0);
  EXPECT_EQ(s.RestoreTime, 3.0);
  EXPECT_EQ(s.CardWait, 10);
  EXPECT_FALSE(s.LRControl || s.OnlyDown || s.SetLevel);
  EXPECT_EQ(s.FadeOut, 0.0);
  EXPECT_EQ(s.FadeIn, 2.0);
  EXPECT_EQ(s.MixerWait, 10);
  for (const MixerLineChoice& line : s.Lines)
    EXPECT_EQ(line, (MixerLineChoice{"", 0, 0, 128}));
  EXPECT_TRUE(errors_.empty());
}

TEST_F(SettingsFile, IntegersAndBooleansReadOnlyWholeNumbers) {
  const std::vector<std::pair<std::string, int32_t>> bitrates = {
      {"0x7D00", 32000},  {"0X7d00", 32000},     {"$7D00", 32000},
      {" 44100 ", 44100}, {"+44100", 44100},     {"-5", -5},
      {"0x", 48000},      {"$", 48000},          {"44100 Hz", 48000},
      {"4.41e4", 48000},  {"", 48000},           {"2147483648", 48000},
      {"$FFFFFFFF", -1},  {"$100000000", 48000}, {"--5", 48000},
      {"+-5", 48000},     {"0x-5", 48000},       {"0x7D00x", 48000}};
  for (const auto& [text, expected] : bitrates) {
    Load("[Soundcard]\nBitrate=" + text + "\n");
    EXPECT_EQ(Settings.Bitrate, expected) << "Bitrate=" << text;
  }

  const std::vector<std::pair<std::string, bool>> hides = {
      {"yes", false}, {"true", false}, {"2", true},   {"-1", true},
      {"0", false},   {"$0", false},   {"0x1", true}, {"", false}};
  for (const auto& [text, expected] : hides) {
    Load("[Settings]\nHide=" + text + "\n");
    EXPECT_EQ(Settings.Hide, expected) << "Hide=" << text;
  }
}

TEST_F(SettingsFile, FloatsReadWithEitherDecimalSeparator) {
  const std::vector<std::pair<std::string, double>> levels = {
      {"-38,5", -38.5}, {"-38.5", -38.5}, {"-12", -12.0},  {"+0,1", 0.1},      {"1E1", 10.0},
      {",5", 0.5},      {"", -38.0},      {"abc", -38.0},  {"1,000.5", -38.0}, {"inf", -38.0},
      {"nan", -38.0},   {"1e999", -38.0}, {"0x10", -38.0}, {"-", -38.0}};
  for (const auto& [text, expected] : levels) {
    Load("[Soundcard]\nSilenceLevel=" + text + "\n");
    EXPECT_EQ(Settings.SilenceLevel, expected) << "SilenceLevel=" << text;
  }
}

TEST_F(SettingsFile, ProgramIdOutsideSixteenBitsReadsAsZero) {
  const std::vector<std::pair<std::string, int16_t>> pids = {
      {"40000", 0},     {"-40000", 0},      {"32768", 0}, {"0xFFFF", 0},
      {"32767", 32767}, {"-32768", -32768}, {"7", 7}};
  for (const auto& [text, expected] : pids) {
    Load("[Settings]\nPID=" + text + "\n");
    EXPECT_EQ(Settings.PID, expected) << "PID=" << text;
  }
}

TEST_F(SettingsFile, SaveAndLoadReproduceEveryFieldAndKeepForeignKeys) {
  WriteFile(iniPath_,
            "; kept\n[Settings]\nPID=1\nExtra=keep\n[Other]\nx=1\n[soundcard]\nwait=99\n");
  Settings = NonDefaultRecord();
  ASSERT_TRUE(store_.SaveSettings());
  EXPECT_TRUE(errors_.empty());

  const std::string file = ReadFile(iniPath_);
  EXPECT_NE(file.find("; kept\n[Settings]\nPID=-123\nExtra=keep\nHide=1\n"), std::string::npos);
  EXPECT_NE(file.find("[Other]\nx=1\n"), std::string::npos);
  EXPECT_NE(file.find("SilenceLevel=-38.5\nSilenceTime=0.1\n"), std::string::npos);
  EXPECT_NE(file.find("FadeOut=1e-07\nFadeIn=10\n"), std::string::npos);
  EXPECT_EQ(ini_.ReadString("Soundcard", "Wait"), "180");
  EXPECT_EQ(ini_.ReadString("Mixer", "Wait"), "5");
  EXPECT_EQ(ini_.ReadString("Mixer", "Level0"), "65535");
  EXPECT_EQ(ini_.ReadString("Soundcard", "RestoreTime"), "2.71828182845905");

  Settings = SettingsRecord{};
  EXPECT_TRUE(store_.LoadSettings());
  EXPECT_EQ(Settings, NonDefaultRecord());
  EXPECT_EQ(ini_.ReadString("settings", "extra"), "keep");
}

TEST_F(SettingsFile, DamagedFilesLoadWithDefaultsWhereUnreadable) {
  std::mt19937 random(11);
  std::string noise(4096, '\0');
  for (char& c : noise)
    c = static_cast<char>(random());
  for (const std::string& content : {noise, std::string(), std::string("\0\0\0", 3)}) {
    Load(content);
    EXPECT_EQ(Settings.Bitrate, 48000);
    EXPECT_EQ(Settings.Lines[1].Level, 128);
  }

  Load(
      "[SOUNDCARD]\nbitrate=44100\nBITRATE=32000\nsilencelevel=oops\n"
      "[Soundcard]\nWait=20\nSilenceTime=5\n[mixer]\nlevel1=300\nwait=7\n");
  EXPECT_EQ(Settings.Bitrate, 44100);
  EXPECT_EQ(Settings.SilenceLevel, -38.0);
  // A repeated section is not looked at, as in Windows.
  EXPECT_EQ(Settings.SilenceTime, 10.0);
  EXPECT_EQ(Settings.CardWait, 10);
  EXPECT_EQ(Settings.MixerWait, 7);
  EXPECT_EQ(Settings.Lines[1].Level, 300);
  EXPECT_EQ(Settings.Lines[0].Level, 128);
}

TEST_F(SettingsFile, LongTextIsCutTo255) {
  const std::string longName(300, 'c');
  // A two-byte character across the limit is dropped whole rather than split.
  const std::string accented = std::string(254, 'a') + "\xC3\xA9" + "tail";
  Load("[Soundcard]\nCard=" + longName + "\n[Mixer]\nDevice1=" + accented + "\n");
  EXPECT_EQ(Settings.Card, longName.substr(0, 255));
  EXPECT_EQ(Settings.Lines[1].Device, std::string(254, 'a'));
}

TEST_F(SettingsFile, OneSaveWritesEveryKeyInOrderOnceOrNothing) {
  ASSERT_TRUE(store_.SaveSettings());
  const std::string before = ReadFile(iniPath_);
  Settings = NonDefaultRecord();
  FailingProfileFile failing(ini_, "Card");
  SettingsStore store = StoreOn(failing);
  EXPECT_FALSE(store.SaveSettings());
  EXPECT_EQ(errors_, std::vector<std::string>{"Unable to write to " + iniPath_});
  EXPECT_EQ(ReadFile(iniPath_), before) << "old or new, never a mix";
  EXPECT_EQ(Settings, NonDefaultRecord());

  FailingProfileFile counting(ini_, "none");
  SettingsStore store2 = StoreOn(counting);
  ASSERT_TRUE(store2.SaveSettings());
  EXPECT_EQ(counting.writes, 1);
  const std::vector<std::string> order = {"Settings/PID",          "Settings/Hide",
                                          "Settings/UseSoundCard", "Settings/UseMixer",
                                          "Settings/SourceMode",   "Soundcard/Card",
                                          "Soundcard/Bitrate",     "Soundcard/SilenceLevel",
                                          "Soundcard/SilenceTime", "Soundcard/RestoreTime",
                                          "Soundcard/Wait",        "Mixer/LRControl",
                                          "Mixer/OnlyDown",        "Mixer/FadeOut",
                                          "Mixer/FadeIn",          "Mixer/Wait",
                                          "Mixer/SetLevel",        "Mixer/Device0",
                                          "Mixer/Root0",           "Mixer/Line0",
                                          "Mixer/Level0",          "Mixer/Device1",
                                          "Mixer/Root1",           "Mixer/Line1",
                                          "Mixer/Level1"};
  EXPECT_EQ(counting.keys, order);
}

TEST_F(SettingsFile, TextsALineCannotHoldAreCleanedSoLaterSavesSucceed) {
  // CR CR LF line ends leave a CR on every value; a NUL ends a text.
  Load(std::string("[Soundcard]\r\r\nCard=USB Audio\r\r\n[Mixer]\r\r\nDevice0=Desk\0junk\r\r\n",
                   62));
  EXPECT_EQ(Settings.Card, "USB Audio");
  EXPECT_EQ(Settings.Lines[0].Device, "Desk");
  EXPECT_TRUE(store_.SaveSettings());
  Settings.Lines[1].Device = "Two\nlines\r";
  EXPECT_TRUE(store_.SaveSettings());
  store_.LoadSettings();
  EXPECT_EQ(Settings.Lines[1].Device, "Twolines");
  EXPECT_TRUE(errors_.empty());

  // Numbers and switches from such a file too, not only texts.
  Load("[Settings]\r\r\nPID=4321\r\r\nSourceMode=1\r\r\n[Soundcard]\r\r\nSilenceLevel=-20,5\r\r\n");
  EXPECT_EQ(Settings.PID, 4321);
  EXPECT_TRUE(Settings.SourceMode);
  EXPECT_EQ(Settings.SilenceLevel, -20.5);
}

TEST_F(SettingsFile, ReadOnlyFileIsReportedAndLeftAsItWas) {
  ASSERT_TRUE(store_.SaveSettings());
  const std::string before = ReadFile(iniPath_);
  chmod(iniPath_.c_str(), 0444);
  Settings = NonDefaultRecord();
  EXPECT_FALSE(store_.SaveSettings());
  EXPECT_EQ(errors_, std::vector<std::string>{"Unable to write to " + iniPath_});
  EXPECT_EQ(ReadFile(iniPath_), before);
  EXPECT_EQ(dir_.Files(), std::vector<std::string>{"Calvora Audio Mixer.ini"});
}

class SettingsAutoStart : public SettingsFile {
 protected:
  std::vector<platform::RunValue> UserEntries() {
    return runKeys_.List(platform::RunScope::CurrentUser, false)
        .value_or(std::vector<platform::RunValue>{});
  }
  std::vector<std::string> UserNames() {
    std::vector<std::string> names;
    for (const auto& value : UserEntries())
      names.push_back(value.Name);
    return names;
  }
};

TEST_F(SettingsAutoStart, AddsUnderTheFirstFreeNameOnlyOnce) {
  EXPECT_FALSE(store_.IsAutoStart());
  ASSERT_TRUE(runKeys_.Write("DORozizIzuzo", "/usr/bin/another-program"));
  store_.SetAutoStart(true);
  EXPECT_EQ(UserNames(), (std::vector<std::string>{"DORozizIzuzo", "DORozizIzuzo1"}));
  EXPECT_EQ(UserEntries()[1].Text, exe_);
  EXPECT_TRUE(store_.IsAutoStart());

  store_.SetAutoStart(true);
  EXPECT_EQ(UserNames().size(), 2u);

  ASSERT_TRUE(runKeys_.Write("DORozizIzuzo2", "/usr/bin/third"));
  runKeys_.Remove("DORozizIzuzo1");
  store_.SetAutoStart(true);
  EXPECT_EQ(UserNames(),
            (std::vector<std::string>{"DORozizIzuzo", "DORozizIzuzo1", "DORozizIzuzo2"}));
  EXPECT_TRUE(errors_.empty());
}

TEST_F(SettingsAutoStart, RemovingTakesEveryEntryNamingThisProgramWhateverItsCase) {
  std::string shouted = exe_;
  for (char& c : shouted)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  ASSERT_TRUE(runKeys_.Write("Mine", exe_));
  ASSERT_TRUE(runKeys_.Write("MineAgain", shouted));
  ASSERT_TRUE(runKeys_.Write("Other", "/usr/bin/other"));
  ASSERT_TRUE(runKeys_.Write("WithArgs", exe_ + " --minimized"));
  EXPECT_TRUE(store_.IsAutoStart());

  store_.SetAutoStart(false);
  EXPECT_EQ(UserNames(), (std::vector<std::string>{"Other", "WithArgs"}));
  EXPECT_FALSE(store_.IsAutoStart());
  EXPECT_TRUE(errors_.empty());
}

TEST_F(SettingsAutoStart, MachineEntryCountsButIsNeverTouched) {
  WriteFile(machineRun_ + "/calvora.desktop", "[Desktop Entry]\nExec=\"" + exe_ + "\"\n");
  EXPECT_TRUE(store_.IsAutoStart());
  store_.SetAutoStart(false);
  EXPECT_TRUE(store_.IsAutoStart());
  // The machine's list starts the program already: a user entry too would start it twice.
  store_.SetAutoStart(true);
  store_.SetAutoStart(true);
  EXPECT_TRUE(std::filesystem::exists(machineRun_ + "/calvora.desktop"));
  EXPECT_TRUE(UserNames().empty());

  // A broken machine entry listed before ours is passed over quietly: ours still counts, so
  // no user entry is written beside it.
  WriteFile(machineRun_ + "/a-broken.desktop", "garbage");
  EXPECT_TRUE(store_.IsAutoStart());
  store_.SetAutoStart(true);
  EXPECT_TRUE(UserNames().empty());
  EXPECT_TRUE(errors_.empty());
}

TEST_F(SettingsAutoStart, UserEntryThatIsNotTextEndsTheOperationWithAnError) {
  ASSERT_TRUE(runKeys_.Write("Mine", exe_));
  WriteFile(userRun_ + "/Broken.desktop", "not a desktop entry");

  EXPECT_FALSE(store_.IsAutoStart());
  store_.SetAutoStart(false);
  EXPECT_EQ(UserNames(), (std::vector<std::string>{"Broken", "Mine"}));
  store_.SetAutoStart(true);
  EXPECT_EQ(UserNames().size(), 2u);
  EXPECT_EQ(errors_, std::vector<std::string>(3, "Invalid data type for 'Broken'"));

  // The machine's entry, read first, still counts.
  WriteFile(machineRun_ + "/calvora.desktop", "[Desktop Entry]\nExec=" + exe_ + "\n");
  EXPECT_TRUE(store_.IsAutoStart());
  EXPECT_EQ(errors_.size(), 4u);
}

TEST_F(SettingsAutoStart, HiddenUserEntryIsASwitchedOffEntryAndHidesTheMachineOne) {
  WriteFile(machineRun_ + "/tracker.desktop", "[Desktop Entry]\nExec=/usr/bin/tracker\n");
  WriteFile(machineRun_ + "/calvora.desktop", "[Desktop Entry]\nExec=" + exe_ + "\n");
  WriteFile(userRun_ + "/tracker.desktop", "[Desktop Entry]\nHidden=true\n");
  WriteFile(userRun_ + "/calvora.desktop", "[Desktop Entry]\nExec=" + exe_ + "\nHidden=true\n");

  EXPECT_FALSE(store_.IsAutoStart()) << "switched off by the user";
  store_.SetAutoStart(true);
  EXPECT_TRUE(store_.IsAutoStart());
  store_.SetAutoStart(false);
  EXPECT_FALSE(store_.IsAutoStart());
  EXPECT_EQ(UserNames(), (std::vector<std::string>{"calvora", "tracker"}));
  EXPECT_TRUE(errors_.empty());
}

TEST_F(SettingsAutoStart, NewNameDoesNotHideAnotherProgramsMachineEntry) {
  WriteFile(machineRun_ + "/DORozizIzuzo.desktop", "[Desktop Entry]\nExec=/usr/bin/other\n");
  store_.SetAutoStart(true);
  EXPECT_EQ(UserNames(), std::vector<std::string>{"DORozizIzuzo1"});
  EXPECT_TRUE(store_.IsAutoStart());
}

TEST_F(SettingsAutoStart, DesktopFileNamesInAnotherLetterCaseAreOtherNames) {
  ASSERT_TRUE(runKeys_.Write("dorozizizuzo", "/usr/bin/other"));
  store_.SetAutoStart(true);
  EXPECT_EQ(UserNames(), (std::vector<std::string>{"DORozizIzuzo", "dorozizizuzo"}));
}

TEST_F(SettingsAutoStart, WithoutAProgramPathNothingMatchesOrIsWritten) {
  ASSERT_TRUE(runKeys_.Write("Empty", ""));
  exe_.clear();
  SettingsStore store = StoreOn(ini_);
  EXPECT_FALSE(store.IsAutoStart());
  store.SetAutoStart(true);
  EXPECT_EQ(UserNames(), std::vector<std::string>{"Empty"});
}

TEST(SettingsRates, BitrateByIndex) {
  EXPECT_EQ(BitrateByIndex(-1), 48000);
  EXPECT_EQ(BitrateByIndex(0), 48000);
  EXPECT_EQ(BitrateByIndex(1), 44100);
  EXPECT_EQ(BitrateByIndex(2), 32000);
  EXPECT_EQ(BitrateByIndex(3), 48000);
}

using SettingsEdit = SettingsFile;

TEST_F(SettingsEdit, EditSettingsRestoresTheRecordUnlessTheDialogSaved) {
  Settings = NonDefaultRecord();
  const bool ok = store_.EditSettings([] {
    Settings.Card = "changed";
    Settings.Lines[1].Level = 1;
    CardChanged = true;
    MixerLevelChanged = true;
    return false;
  });
  EXPECT_FALSE(ok);
  EXPECT_EQ(Settings, NonDefaultRecord());
  EXPECT_TRUE(CardChanged && MixerLevelChanged);

  EXPECT_TRUE(store_.EditSettings([] {
    Settings.Card = "saved";
    return true;
  }));
  EXPECT_EQ(Settings.Card, "saved");
  EXPECT_FALSE(store_.EditSettings(nullptr));
  EXPECT_EQ(Settings.Card, "saved");
}

}  // namespace
}  // namespace calvora::settings
