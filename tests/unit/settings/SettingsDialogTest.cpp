#include "settings/Fr_Setting.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>

#include "MemoryRunKeys.h"
#include "VirtualClock.h"
#include "VirtualMixerDevices.h"
#include "VirtualTimers.h"
#include "VirtualUi.h"
#include "VirtualWaveInput.h"
#include "mixer/MixerXP.h"

namespace calvora::settings {
namespace {

using namespace calvora::testing;
using Controls = VirtualMixerDevices::Controls;

// An INI file in memory that counts how often it was replaced.
class MemoryProfileFile : public platform::ProfileFile {
 public:
  const std::string& Path() const override { return path_; }
  bool Exists() const override { return !values.empty(); }
  std::optional<std::string> ReadString(std::string_view section, std::string_view key) override {
    const auto it = values.find(std::string(section) + "/" + std::string(key));
    return it == values.end() ? std::nullopt : std::optional<std::string>(it->second);
  }
  bool WriteString(std::string_view section, std::string_view key,
                   std::string_view value) override {
    return WriteStrings({{std::string(section), std::string(key), std::string(value)}});
  }
  bool WriteStrings(const std::vector<platform::ProfileValue>& entries) override {
    if (readOnly)
      return false;
    ++replacements;
    for (const auto& e : entries)
      values[e.Section + "/" + e.Key] = e.Value;
    return true;
  }
  std::map<std::string, std::string> values;
  int replacements = 0;
  bool readOnly = false;

 private:
  std::string path_ = "/virtual/calvora.ini";
};

// The dialog on virtual widgets, two capture devices and two mixer devices:
// "Desk" with the roots Playback (Master, PCM, Line) and Capture (Capture, Mic), and
// "USB Box" with Playback (Master, Aux).
class SettingsDialog : public ::testing::Test {
 protected:
  SettingsDialog() {
    wave.Devices = {{"Card A"}, {"Card B"}};
    desk = devices.AddDevice("Desk");
    devices.AddDestination(desk, "Playback", Controls::kBoth);
    devices.AddSource(desk, 0, "PCM", Controls::kBoth);
    devices.AddSource(desk, 0, "Line", Controls::kBoth);
    devices.AddDestination(desk, "Capture", Controls::kBoth);
    devices.AddSource(desk, 1, "Mic", Controls::kBoth);
    box = devices.AddDevice("USB Box");
    devices.AddDestination(box, "Playback", Controls::kBoth);
    devices.AddSource(box, 0, "Aux", Controls::kBoth);
    store.LoadSettings();  // the defaults
    CBDevice_L.left = 52;
    CBDevice_R.left = 248;
  }
  ~SettingsDialog() override {
    dialog.reset();
    mainMixer.reset();
    mixer::FreeMixerDevices();
    CardChanged = MixerDeviceChanged = MixerLinesChanged = MixerLevelChanged = false;
    LinesMuted = true;
  }

  // A record with the sound card and the left line Desk / Playback / PCM in use.
  void StoreCardAndLeftLine() {
    Settings.UseSoundCard = true;
    Settings.Card = "Card B";
    Settings.UseMixer = true;
    Settings.Lines[0] = {"Desk", 0, 1, 200 * 257};
    Settings.Lines[1] = {"", -1, -1, 200 * 257};
  }

  void Open() {
    dialog = std::make_unique<TFSetting>(
        SettingWidgets{
            .Form = Form,
            .MSG = MSG,
            .CBSourceMode = CBSourceMode,
            .EPID = EPID,
            .CBAutoStart = CBAutoStart,
            .CBHide = CBHide,
            .GBCard = GBCard,
            .CBCard = CBCard,
            .CBBitrate = CBBitrate,
            .SSilence = SSilence,
            .LSilence = LSilence,
            .ESilenceTime = ESilenceTime,
            .ERestoreTime = ERestoreTime,
            .ECardWait = ECardWait,
            .GBMixer = GBMixer,
            .CBSeparately = CBSeparately,
            .CBMuteOnly = CBMuteOnly,
            .CBSetLevel = CBSetLevel,
            .CBDevice_L = CBDevice_L,
            .CBDevice_R = CBDevice_R,
            .CBRoot_L = CBRoot_L,
            .CBRoot_R = CBRoot_R,
            .CBLine_L = CBLine_L,
            .CBLine_R = CBLine_R,
            .TBLevel_L = TBLevel_L,
            .TBLevel_R = TBLevel_R,
            .SBEqual = SBEqual,
            .EFadeOut = EFadeOut,
            .EFadeIn = EFadeIn,
            .EMixerWait = EMixerWait,
            .SBSave = SBSave,
        },
        SettingServices{wave, devices, clock, timers, store, [this] { return mainMixer.get(); }});
  }
  void Save() { SBSave.Click(); }
  bool NoFlag() const {
    return !CardChanged && !MixerDeviceChanged && !MixerLinesChanged && !MixerLevelChanged;
  }
  // The main window's controller holding Desk / Playback / PCM in group 0.
  void MainControlsLeftLine() {
    mainMixer = std::make_unique<mixer::TCVMixer>(devices, clock, timers);
    mainMixer->SetActive(true);
    mainLine = mainMixer->AddLine(0, 0, 0, 1);
  }
  uint32_t PcmVolume() { return devices.Volume(desk, 0, 0); }

  VirtualClock clock;
  VirtualTimers timers{clock};
  VirtualWaveInput wave;
  VirtualMixerDevices devices;
  uint32_t desk = 0, box = 0;
  MemoryProfileFile ini;
  MemoryRunKeys runKeys;
  VirtualMessageBox MSG;
  static constexpr const char* kProgram = "/opt/calvora/calvora-audio-mixer";
  SettingsStore store{ini, runKeys, kProgram,
                      [this](const std::string& text) { MSG.ShowError(text); }};
  std::unique_ptr<mixer::TCVMixer> mainMixer;
  mixer::ControlledLineId mainLine = -1;

  VirtualDialog Form;
  VirtualCheckBox CBSourceMode, CBAutoStart, CBHide, CBSeparately, CBMuteOnly, CBSetLevel;
  VirtualSpinEdit EPID{0, 32767, 0};
  VirtualCheckGroup GBCard{429}, GBMixer{429};
  VirtualDropDownList CBCard, CBBitrate, CBDevice_L, CBDevice_R, CBRoot_L, CBRoot_R, CBLine_L,
      CBLine_R;
  VirtualSlider SSilence{-42, -12, -38};
  VirtualLabel LSilence;
  VirtualSpinEdit ESilenceTime{0, 30, 0}, ERestoreTime{0, 30, 0}, ECardWait{5, 180, 10};
  VirtualSlider TBLevel_L{0, 255, 255}, TBLevel_R{0, 255, 255};
  VirtualSpeedButton SBEqual;
  VirtualSpinEdit EFadeOut{0, 10, 0}, EFadeIn{0, 10, 0}, EMixerWait{5, 180, 10};
  ui::Button SBSave;
  std::unique_ptr<TFSetting> dialog;
};

TEST(SettingsWidgetRoles, ListSelectionFromCodeAlwaysNotifiesSliderOnlyOnAClampedChange) {
  VirtualDropDownList list;
  int changes = 0;
  list.OnChange = [&] { ++changes; };
  list.SetItems({"a", "b"});
  list.Select(1);
  list.Select(1);
  EXPECT_EQ(changes, 2) << "the same index again is still a choice";
  list.Select(5);
  EXPECT_EQ(list.ItemIndex(), -1);
  EXPECT_EQ(list.SelectedText(), "");
  EXPECT_EQ(changes, 3);
  list.SelectQuietly(0);
  EXPECT_EQ(changes, 3);
  EXPECT_EQ(list.IndexOfIgnoringCase("B"), 1);
  EXPECT_EQ(list.IndexOf("B"), -1);

  VirtualSlider slider(0, 255, 255);
  int moves = 0;
  slider.OnChange = [&] { ++moves; };
  slider.SetPosition(300);
  EXPECT_EQ(moves, 0) << "clamped to the position it already has";
  slider.SetPosition(-7);
  EXPECT_EQ(slider.Position(), 0);
  EXPECT_EQ(moves, 1);
}

TEST_F(SettingsDialog, ProgramIdZeroIsRefusedOnlyInInteractiveMode) {
  Settings.SourceMode = true;
  const SettingsRecord before = Settings;
  Open();
  Save();
  ASSERT_EQ(MSG.errors, std::vector<std::string>{"The program ID (PID) must not be equal 0"});
  EXPECT_EQ(Settings, before);
  EXPECT_EQ(ini.replacements, 0);
  EXPECT_FALSE(Form.ended);

  CBSourceMode.UserClick();  // off
  Save();
  EXPECT_EQ(MSG.errors.size(), 1u);
  EXPECT_TRUE(Form.ended && Form.result);
  EXPECT_EQ(Settings.PID, 0);
  EXPECT_FALSE(Settings.SourceMode);
  EXPECT_EQ(ini.replacements, 1) << "one save writes the file once";
  EXPECT_EQ(ini.values["Settings/PID"], "0");
}

TEST_F(SettingsDialog, FileThatCannotBeWrittenKeepsTheDialogOpen) {
  ini.readOnly = true;
  Open();
  Save();
  EXPECT_EQ(MSG.errors, std::vector<std::string>{"Unable to write to /virtual/calvora.ini"});
  EXPECT_FALSE(Form.ended);
}

TEST_F(SettingsDialog, SilenceLevelIsTruncatedAndClampedBySlider) {
  Settings.SilenceLevel = -50;
  Open();
  EXPECT_EQ(SSilence.Position(), -42);
  EXPECT_EQ(LSilence.text, "-42 dB");
  Save();
  EXPECT_EQ(Settings.SilenceLevel, -42);

  dialog.reset();
  Settings.SilenceLevel = -38.7;
  Open();
  EXPECT_EQ(SSilence.Position(), -38);
  EXPECT_EQ(LSilence.text, "-38 dB") << "label right although the slider did not move";
  Save();
  EXPECT_EQ(Settings.SilenceLevel, -38);
}

TEST_F(SettingsDialog, RateNotOfferedSelects48000AndRaisesCardChanged) {
  StoreCardAndLeftLine();
  Settings.Bitrate = 22050;
  Open();
  EXPECT_EQ(CBBitrate.SelectedText(), "48000");
  Save();
  EXPECT_EQ(Settings.Bitrate, 48000);
  EXPECT_TRUE(CardChanged);
  EXPECT_FALSE(MixerDeviceChanged || MixerLinesChanged || MixerLevelChanged);
}

TEST_F(SettingsDialog, SavingUntouchedRaisesNoFlagAndKeepsWaits) {
  StoreCardAndLeftLine();
  Settings.Bitrate = 44100;
  Settings.CardWait = 33;
  Settings.MixerWait = 44;
  // The switches on, outside interactive mode, and the program started at logon.
  Settings.Hide = true;
  Settings.OnlyDown = true;
  Settings.SetLevel = true;
  runKeys.user = {{"DORozizIzuzo", true, kProgram}};
  const SettingsRecord before = Settings;
  Open();
  EXPECT_TRUE(CBAutoStart.Checked());
  Save();
  EXPECT_TRUE(NoFlag());
  EXPECT_EQ(Settings, before);
  EXPECT_EQ(ini.values["Soundcard/Card"], "Card B");
  EXPECT_EQ(ini.values["Settings/Hide"], "1");
  EXPECT_EQ(ini.values["Mixer/SetLevel"], "1");
  ASSERT_EQ(runKeys.user.size(), 1u) << "the autostart entry stays";
  EXPECT_EQ(runKeys.user[0].Text, kProgram);
}

TEST_F(SettingsDialog, AutostartSwitchedOffRemovesTheEntry) {
  runKeys.user = {{"Other", true, "/usr/bin/other"}, {"DORozizIzuzo", true, kProgram}};
  Open();
  CBAutoStart.UserClick();
  Save();
  EXPECT_TRUE(Form.ended && Form.result);
  ASSERT_EQ(runKeys.user.size(), 1u);
  EXPECT_EQ(runKeys.user[0].Name, "Other");
}

TEST_F(SettingsDialog, CardStoredInOtherCaseIsSelectedAndStoredAsListed) {
  StoreCardAndLeftLine();
  Settings.Card = "card b";
  Open();
  EXPECT_EQ(CBCard.ItemIndex(), 1);
  Save();
  EXPECT_EQ(Settings.Card, "Card B");
  EXPECT_TRUE(CardChanged);
}

TEST_F(SettingsDialog, SoundCardSwitchedOffClearsItsFieldsAndAlwaysRaisesCardChanged) {
  // Even when the stored rate is already the one an unused card is given.
  for (const int32_t stored : {44100, 48000}) {
    SCOPED_TRACE(stored);
    dialog.reset();
    CardChanged = false;
    Settings.UseSoundCard = false;
    Settings.Card = "";
    Settings.Bitrate = stored;
    Open();
    ESilenceTime.SetValue(12.25);
    Save();
    EXPECT_EQ(Settings.Card, "");
    EXPECT_EQ(Settings.Bitrate, 48000);
    EXPECT_TRUE(CardChanged) << "even with no card stored before";
    EXPECT_EQ(Settings.SilenceTime, 12.25) << "kept as the control holds it";
    EXPECT_EQ(Settings.SilenceLevel, -38);
    EXPECT_EQ(Settings.CardWait, 10);
  }
}

TEST_F(SettingsDialog, UseSoundcardWithoutACardAsksForOne) {
  Settings.UseSoundCard = true;
  Settings.Card = "Gone";
  Open();
  EXPECT_EQ(CBCard.ItemIndex(), -1);
  Save();
  EXPECT_EQ(MSG.errors, std::vector<std::string>{"Select sound card!"});
  EXPECT_FALSE(Form.ended);
}

TEST_F(SettingsDialog, StoredLeftChoiceOpensChainAndSetsPreviewVolume) {
  StoreCardAndLeftLine();
  Settings.Lines[0].Level = 200 * 257 + 100;  // shown rounded down
  devices.SetVolume(desk, 0, 0, 1000);
  Open();
  EXPECT_EQ(CBDevice_L.SelectedText(), "Desk");
  EXPECT_EQ(CBRoot_L.items, (std::vector<std::string>{"Playback", "Capture"}));
  EXPECT_EQ(CBRoot_L.ItemIndex(), 0);
  EXPECT_EQ(CBLine_L.items, (std::vector<std::string>{"Playback", "PCM", "Line"}));
  EXPECT_EQ(CBLine_L.ItemIndex(), 1);
  EXPECT_EQ(TBLevel_L.Position(), 200);
  EXPECT_EQ(PcmVolume(), 200u * 257u) << "the preview line is set to the stored level at once";
  EXPECT_FALSE(devices.Muted(desk, 0, 0));
  EXPECT_EQ(dialog->PreviewLeft, 1);

  // Another root: the stored line position is chosen again in the new list.
  CBRoot_L.UserSelect(1);
  EXPECT_EQ(CBLine_L.items, (std::vector<std::string>{"Capture", "Mic"}));
  EXPECT_EQ(CBLine_L.ItemIndex(), 1);
  EXPECT_EQ(dialog->PreviewLeft, 2);

  // Another line: its present volume shows on the slider, and the previous preview line is
  // given up rather than kept beside the new one.
  CBRoot_L.UserSelect(0);
  devices.SetVolume(desk, 0, 1, 70 * 257 + 100);
  CBLine_L.UserSelect(2);
  EXPECT_EQ(TBLevel_L.Position(), 70);
  EXPECT_EQ(devices.Volume(desk, 0, 1), 70u * 257u) << "written back as the slider shows it";
  timers.Advance(50);  // the controller lets a removed line go at its next line tick
  for (const int32_t gone : {1, 2, 3})
    EXPECT_EQ(dialog->DialogMixer->FindLine(gone), nullptr) << gone;
  EXPECT_NE(dialog->DialogMixer->FindLine(dialog->PreviewLeft), nullptr);
}

TEST_F(SettingsDialog, MixerDeviceStoredInOtherCaseIsFound) {
  StoreCardAndLeftLine();
  Settings.Lines[0].Device = "dESK";
  Open();
  EXPECT_EQ(CBDevice_L.SelectedText(), "Desk");
  EXPECT_EQ(CBLine_L.ItemIndex(), 1);
  EXPECT_EQ(TBLevel_L.Position(), 200);
}

TEST_F(SettingsDialog, StoredChoiceBeyondTheListsLeavesThemWithoutSelection) {
  Settings.UseMixer = true;
  Settings.Lines[0] = {"Desk", 5, 0, 0};
  Settings.Lines[1] = {"Missing", 0, 0, 0};
  CBLine_R.SetItems({"kept"});
  Open();
  EXPECT_EQ(CBRoot_L.ItemIndex(), -1);
  EXPECT_EQ(CBRoot_L.Count(), 2);
  EXPECT_EQ(CBLine_L.Count(), 0);
  EXPECT_EQ(CBDevice_R.ItemIndex(), -1);
  EXPECT_EQ(CBRoot_R.Count(), 0);
  EXPECT_EQ(CBLine_R.Count(), 1) << "a missing device leaves its line list as it was";
  Save();
  EXPECT_EQ(MSG.errors, std::vector<std::string>{"Select mixer root line"});
}

TEST_F(SettingsDialog, MainWindowsMutedLineIsUntouchedBySliderButOthersFollow) {
  StoreCardAndLeftLine();
  Settings.Lines[1] = {"USB Box", 0, 1, 100 * 257};  // shown, not in use: stored alone
  MainControlsLeftLine();
  devices.SetVolume(desk, 0, 0, 0);
  LinesMuted = true;
  Open();
  EXPECT_EQ(PcmVolume(), 0u) << "opening leaves the muted line alone";
  EXPECT_EQ(devices.Volume(box, 0, 0), 100u * 257u);
  CBSeparately.UserClick();
  const size_t writes = devices.writes.size();
  TBLevel_L.UserMove(250);
  EXPECT_EQ(devices.writes.size(), writes) << "the slider writes nothing to a held muted line";
  CBRoot_L.UserSelect(0);  // the same line chosen again keeps the slider where it is
  EXPECT_EQ(TBLevel_L.Position(), 250);
  EXPECT_EQ(devices.writes.size(), writes);

  SBEqual.Click();
  EXPECT_EQ(TBLevel_R.Position(), 250);
  EXPECT_EQ(devices.Volume(box, 0, 0), 250u * 257u);

  LinesMuted = false;
  TBLevel_L.UserMove(128);
  EXPECT_EQ(PcmVolume(), 32896u) << "once restored the line previews again";
  TBLevel_L.UserMove(255);
  EXPECT_EQ(PcmVolume(), 65535u);
}

TEST_F(SettingsDialog, SeparatelyOffHidesRightColumnAndStoresEmptyRightChoice) {
  StoreCardAndLeftLine();
  Settings.LRControl = true;
  Settings.Lines[1] = {"USB Box", 0, 1, 100 * 257};
  Open();
  EXPECT_TRUE(CBDevice_R.Visible() && SBEqual.Visible());
  EXPECT_EQ(CBDevice_L.Width(), 180);
  CBSeparately.UserClick();
  EXPECT_FALSE(CBDevice_R.Visible() || CBRoot_R.Visible() || CBLine_R.Visible() ||
               TBLevel_R.Visible() || SBEqual.Visible());
  EXPECT_EQ(CBDevice_L.Width(), 429 - 52 - 4);
  EXPECT_EQ(TBLevel_L.Width(), 429 - 52 - 4);
  TBLevel_L.UserMove(128);
  Save();
  EXPECT_EQ(Settings.Lines[1], (MixerLineChoice{"", -1, -1, 128 * 257}));
  EXPECT_TRUE(MixerDeviceChanged && MixerLinesChanged && MixerLevelChanged);
}

TEST_F(SettingsDialog, OnlyTheLeftLevelMovedRaisesOnlyMixerLevelChanged) {
  StoreCardAndLeftLine();
  Settings.Bitrate = 48000;
  Open();
  TBLevel_L.UserMove(128);
  Save();
  EXPECT_EQ(Settings.Lines[0].Level, 32896);
  EXPECT_TRUE(MixerLevelChanged);
  EXPECT_FALSE(CardChanged || MixerDeviceChanged || MixerLinesChanged);
}

TEST_F(SettingsDialog, DefaultLevelShowsZeroAndIsSavedAsZero) {
  StoreCardAndLeftLine();
  Settings.Lines[0].Level = 128;
  Settings.Lines[1].Level = 128;
  Open();
  EXPECT_EQ(TBLevel_L.Position(), 0);
  Save();
  EXPECT_EQ(Settings.Lines[0].Level, 0);
  EXPECT_EQ(Settings.Lines[1].Level, 0);
  EXPECT_TRUE(MixerLevelChanged);
}

TEST_F(SettingsDialog, MixerSwitchedOffClearsEveryMixerField) {
  StoreCardAndLeftLine();
  Settings.LRControl = true;
  Settings.FadeIn = 2;
  Settings.MixerWait = 10;
  Open();
  GBMixer.SetChecked(false);
  Save();
  EXPECT_TRUE(Form.result);
  EXPECT_TRUE(MixerDeviceChanged);
  EXPECT_FALSE(Settings.LRControl || Settings.OnlyDown || Settings.SetLevel);
  EXPECT_EQ(Settings.FadeIn, 0);
  EXPECT_EQ(Settings.MixerWait, 0);
  EXPECT_EQ(Settings.Lines[0], MixerLineChoice{});
  EXPECT_EQ(Settings.Lines[1], MixerLineChoice{});
}

TEST_F(SettingsDialog, MissingRightChoiceIsRefusedButCheckBoxesAreAlreadyApplied) {
  StoreCardAndLeftLine();
  Open();
  CBSeparately.UserClick();
  CBMuteOnly.UserClick();
  Save();
  EXPECT_EQ(MSG.errors, std::vector<std::string>{"Select mixer device"});
  EXPECT_TRUE(Settings.LRControl && Settings.OnlyDown);
  CBDevice_R.UserSelect(1);
  CBRoot_R.UserSelect(0);
  Save();
  EXPECT_EQ(MSG.errors.back(), "Select mixer line") << "the stored line -1 selects none";
}

TEST_F(SettingsDialog, InteractiveModeStoresSetLevelOff) {
  StoreCardAndLeftLine();
  Settings.PID = 7;
  Settings.SetLevel = true;
  Open();
  CBSourceMode.UserClick();
  Save();
  EXPECT_TRUE(Settings.SourceMode);
  EXPECT_FALSE(Settings.SetLevel);
}

TEST_F(SettingsDialog, CancelledDialogLeavesTheRecordExactlyAsBefore) {
  StoreCardAndLeftLine();
  Settings.SourceMode = true;
  const SettingsRecord before = Settings;
  const bool ok = store.EditSettings([this, &before] {
    Open();
    CBDevice_L.UserSelect(1);  // stores the device name at once
    Save();                    // refused: interactive mode without a program ID
    EXPECT_NE(Settings, before);
    dialog.reset();
    return Form.ended && Form.result;
  });
  EXPECT_FALSE(ok);
  EXPECT_EQ(Settings, before);
}

TEST_F(SettingsDialog, ClosingReleasesDialogControllerAndMainLinesKeepWorking) {
  StoreCardAndLeftLine();
  MainControlsLeftLine();
  Open();
  EXPECT_EQ(timers.ActiveTimers(), 2) << "the main and the dialog's line timers";
  dialog.reset();
  EXPECT_EQ(timers.ActiveTimers(), 1) << "the dialog's controller is gone";

  // The main window mutes and restores its line as before.
  mainMixer->FadeOutGroup(0, true, 0);
  EXPECT_TRUE(devices.Muted(desk, 0, 0));
  mainMixer->StoreLevel(mainLine, 40000);
  mainMixer->FadeInGroup(0, 1.0);
  timers.Advance(1100);
  EXPECT_FALSE(devices.Muted(desk, 0, 0));
  EXPECT_EQ(PcmVolume(), 40000u);
}

}  // namespace
}  // namespace calvora::settings
