// The settings dialog on native controls under Wine: the controls driven with their own
// messages, a modal run over an owner window ended by Escape, the close button or Enter,
// and what reaches the settings file in a temporary folder.
#include "ui/win32/WindowsApi.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "MemoryRunKeys.h"
#include "VirtualMixerDevices.h"
#include "VirtualWaveInput.h"
#include "WindowPicture.h"
#include "app/SettingsDialogWin32.h"
#include "mixer/MixerXP.h"
#include "platform/win32/WideText.h"
#include "platform/win32/Win32Clock.h"
#include "platform/win32/Win32ProfileFile.h"
#include "platform/win32/Win32Timers.h"
#include "settings/Fr_Setting.h"
#include "ui/win32/Skin.h"
#include "ui/win32/Win32SettingsForm.h"

namespace calvora {
namespace {

namespace fs = std::filesystem;
using Controls = testing::VirtualMixerDevices::Controls;
using settings::Settings;
using ui::win32::Win32SettingsForm;

std::string Utf8(const std::u8string& text) {
  return {text.begin(), text.end()};
}

std::string TextOf(HWND window) {
  wchar_t text[256]{};
  GetWindowTextW(window, text, static_cast<int>(std::size(text)));
  return platform::win32::Narrow(text);
}

std::vector<std::string> ItemsOf(HWND list) {
  std::vector<std::string> items;
  const auto count = static_cast<int>(SendMessageW(list, CB_GETCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    wchar_t item[256]{};
    SendMessageW(list, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(item));
    items.push_back(platform::win32::Narrow(item));
  }
  return items;
}

int SelectionOf(HWND list) {
  return static_cast<int>(SendMessageW(list, CB_GETCURSEL, 0, 0));
}

int WidthOf(HWND window) {
  RECT place{};
  GetWindowRect(window, &place);
  return place.right - place.left;
}

bool Shown(HWND window) {
  return (GetWindowLongPtrW(window, GWL_STYLE) & WS_VISIBLE) != 0;
}

// What the dialog's window receives when the user works a control.
void Notify(HWND control, WORD code) {
  SendMessageW(GetParent(control), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(control), code),
               reinterpret_cast<LPARAM>(control));
}
void Choose(HWND list, int index) {
  SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  Notify(list, CBN_SELCHANGE);
}
void Drag(HWND slider, int position) {
  SendMessageW(slider, TBM_SETPOS, TRUE, position);
  SendMessageW(GetParent(slider), WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, position),
               reinterpret_cast<LPARAM>(slider));
}
void Type(HWND edit, const wchar_t* text) {
  SetWindowTextW(edit, text);  // the field reports EN_CHANGE to the dialog
}
void Press(HWND control, WPARAM key) {
  PostMessageW(control, WM_KEYDOWN, key, 1);
  PostMessageW(control, WM_KEYUP, key, 0xC0000001);
}

// Runs `step` once from inside the next modal loop of this thread, while this object lives.
// A loop still running 15 s later is ended with a quit request, and the test fails.
class InsideModalLoop {
 public:
  explicit InsideModalLoop(std::function<void()> step) {
    pending_ = std::move(step);
    timedOut_ = false;
    stepTimer_ = SetTimer(nullptr, 0, 10, &RunStep);
    guardTimer_ = SetTimer(nullptr, 0, 15000, &GiveUp);
  }
  ~InsideModalLoop() {
    KillTimer(nullptr, stepTimer_);
    KillTimer(nullptr, guardTimer_);
    pending_ = nullptr;
    ::MSG quit{};
    PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
    EXPECT_FALSE(timedOut_) << "the modal loop did not end";
  }
  InsideModalLoop(const InsideModalLoop&) = delete;
  InsideModalLoop& operator=(const InsideModalLoop&) = delete;

 private:
  static void CALLBACK RunStep(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    std::function<void()> run = std::move(pending_);
    pending_ = nullptr;
    if (run)
      run();
  }
  static void CALLBACK GiveUp(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    timedOut_ = true;
    PostQuitMessage(0);
  }
  static inline std::function<void()> pending_;
  static inline bool timedOut_ = false;
  UINT_PTR stepTimer_;
  UINT_PTR guardTimer_;
};

HWND ThreadWindowOfClass(const wchar_t* className) {
  struct Search {
    const wchar_t* name;
    HWND found;
  } search{className, nullptr};
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND window, LPARAM data) {
        auto& s = *reinterpret_cast<Search*>(data);
        wchar_t name[64]{};
        GetClassNameW(window, name, 64);
        if (std::wstring(name) != s.name || !IsWindowVisible(window))
          return TRUE;
        s.found = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// Two capture devices and two mixer devices, one name with two blanks in a row.
class SettingsDialogOnWin32 : public ::testing::Test {
 protected:
  SettingsDialogOnWin32() {
    fs::create_directories(dir);
    waveInput.Devices = {{"Realtek HD Audio Input"}, {"Calvora Virtual Capture"}};
    const uint32_t card = mixerDevices.AddDevice("Calvora Virtual Mixer");
    mixerDevices.AddDestination(card, "Playback", Controls::kBoth);
    mixerDevices.AddSource(card, 0, "PCM", Controls::kBoth);
    mixerDevices.AddSource(card, 0, "Line", Controls::kBoth);
    mixerDevices.AddDestination(card, "Capture", Controls::kBoth);
    mixerDevices.AddSource(card, 1, "Mic", Controls::kBoth);
    const uint32_t usb = mixerDevices.AddDevice("USB Audio  Device");
    mixerDevices.AddDestination(usb, "Playback", Controls::kBoth);
    mixerDevices.AddSource(usb, 0, "Speaker", Controls::kBoth);
    // The owner stays hidden: under Wine without a window manager every shown window that
    // is destroyed waits two seconds for the X server to confirm it is gone.
    owner = CreateWindowExW(0, L"STATIC", L"owner", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                            nullptr, GetModuleHandleW(nullptr), nullptr);
  }
  ~SettingsDialogOnWin32() override {
    DestroyWindow(owner);
    mixer::FreeMixerDevices();
    fs::remove_all(dir);
  }

  void Load(const std::string& content) {
    std::ofstream(dir / "calvora.ini", std::ios::binary) << content;
    store.LoadSettings();
  }
  std::string IniBytes() const {
    std::ifstream in(dir / "calvora.ini", std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
  }
  settings::SettingServices Services() {
    return {waveInput, mixerDevices, clock, timers, store, [] { return nullptr; }};
  }
  // The user edits the settings in a modal run of the dialog: `user` acts from inside it.
  bool EditModally(std::function<void(Win32SettingsForm&)> user) {
    return store.EditSettings([&] {
      Win32SettingsForm form(owner);
      settings::TFSetting dialog(app::WidgetsOf(form), Services());
      const InsideModalLoop inside([&] {
        userActed = true;
        user(form);
      });
      return form.ShowModal();
    });
  }

  // A folder name with blanks and a letter outside ASCII: paths are UTF-8 inside.
  fs::path dir = fs::temp_directory_path() /
                 (fs::path(u8"calvora dialog \u00fc ") += std::to_string(GetCurrentProcessId()));
  platform::win32::Win32Clock clock;
  platform::win32::Win32Timers timers;
  testing::VirtualWaveInput waveInput;
  testing::VirtualMixerDevices mixerDevices;
  platform::win32::Win32ProfileFile ini{Utf8((dir / "calvora.ini").u8string())};
  testing::MemoryRunKeys runKeys;
  settings::SettingsStore store{ini, runKeys, "C:\\calvora\\calvora-audio-mixer.exe",
                                [](const std::string&) {}};
  HWND owner = nullptr;
  bool userActed = false;
};

constexpr const char* kStoredLines =
    "[Settings]\r\nUseSoundCard=1\r\nUseMixer=1\r\n"
    "[Soundcard]\r\nCard=calvora virtual capture\r\nBitrate=44100\r\nSilenceLevel=-38.7\r\n"
    "[Mixer]\r\nLRControl=1\r\nDevice0=Calvora Virtual Mixer\r\nRoot0=0\r\nLine0=1\r\n"
    "Level0=51400\r\nDevice1=USB Audio  Device\r\nRoot1=0\r\nLine1=1\r\nLevel1=25700\r\n";

TEST_F(SettingsDialogOnWin32, ListsShowWhatTheServicesReportAndTheStoredChoices) {
  Load(kStoredLines);
  Win32SettingsForm form(owner);
  settings::TFSetting dialog(app::WidgetsOf(form), Services());

  EXPECT_EQ(ItemsOf(form.CBCard->Handle()),
            (std::vector<std::string>{"Realtek HD Audio Input", "Calvora Virtual Capture"}));
  // Found without regard to letter case.
  EXPECT_EQ(SelectionOf(form.CBCard->Handle()), 1);
  EXPECT_EQ(ItemsOf(form.CBBitrate->Handle()),
            (std::vector<std::string>{"48000", "44100", "32000"}));
  EXPECT_EQ(SelectionOf(form.CBBitrate->Handle()), 1);
  const std::vector<std::string> devices{"Calvora Virtual Mixer", "USB Audio  Device"};
  EXPECT_EQ(ItemsOf(form.CBDevice_L->Handle()), devices);
  EXPECT_EQ(ItemsOf(form.CBDevice_R->Handle()), devices);
  EXPECT_EQ(SelectionOf(form.CBDevice_R->Handle()), 1);
  EXPECT_EQ(ItemsOf(form.CBRoot_L->Handle()), (std::vector<std::string>{"Playback", "Capture"}));
  // A root's lines begin with the root itself.
  EXPECT_EQ(ItemsOf(form.CBLine_L->Handle()),
            (std::vector<std::string>{"Playback", "PCM", "Line"}));
  EXPECT_EQ(SelectionOf(form.CBLine_L->Handle()), 1);
  EXPECT_EQ(ItemsOf(form.CBLine_R->Handle()), (std::vector<std::string>{"Playback", "Speaker"}));
  EXPECT_EQ(SelectionOf(form.CBLine_R->Handle()), 1);

  // The stored level is shown and at once given to the preview line.
  EXPECT_EQ(SendMessageW(form.TBLevel_L->Handle(), TBM_GETPOS, 0, 0), 200);
  EXPECT_EQ(SendMessageW(form.TBLevel_R->Handle(), TBM_GETPOS, 0, 0), 100);
  EXPECT_EQ(mixerDevices.Volume(0, 0, 0), 200u * 257u);
  // -38.7 is shown truncated, not rounded.
  EXPECT_EQ(SendMessageW(form.SSilence->Handle(), TBM_GETPOS, 0, 0), -38);
  EXPECT_EQ(TextOf(form.LSilence->Handle()), "-38 dB");
  EXPECT_EQ(TextOf(form.ECardWait->Handle()), "10");
  EXPECT_EQ(TextOf(form.ESilenceTime->Handle()), "10.0");
}

TEST_F(SettingsDialogOnWin32, ControlsKeepTheRulesOfTheirRoles) {
  Load(kStoredLines);
  Win32SettingsForm form(owner);
  settings::TFSetting dialog(app::WidgetsOf(form), Services());
  ShowWindow(form.Handle(), SW_SHOWNA);

  // The user drags the silence slider and the left level slider.
  Drag(form.SSilence->Handle(), -20);
  EXPECT_EQ(TextOf(form.LSilence->Handle()), "-20 dB");
  Drag(form.TBLevel_L->Handle(), 128);
  EXPECT_EQ(mixerDevices.Volume(0, 0, 0), 32896u);
  // A scroll message without a move changes nothing.
  mixerDevices.SetVolume(0, 0, 0, 1000);
  Drag(form.TBLevel_L->Handle(), 128);
  EXPECT_EQ(mixerDevices.Volume(0, 0, 0), 1000u);
  // "=" gives the right slider the left one's value.
  SendMessageW(form.SBEqual->Handle(), BM_CLICK, 0, 0);
  EXPECT_EQ(SendMessageW(form.TBLevel_R->Handle(), TBM_GETPOS, 0, 0), 128);

  // Another device: its roots replace the old ones, the stored root is chosen and so on down.
  Choose(form.CBDevice_L->Handle(), 1);
  EXPECT_EQ(Settings.Lines[0].Device, "USB Audio  Device");
  EXPECT_EQ(ItemsOf(form.CBRoot_L->Handle()), (std::vector<std::string>{"Playback"}));
  EXPECT_EQ(ItemsOf(form.CBLine_L->Handle()), (std::vector<std::string>{"Playback", "Speaker"}));
  EXPECT_EQ(SelectionOf(form.CBLine_L->Handle()), 1) << "the stored line position";
  Choose(form.CBDevice_L->Handle(), 0);
  // The same root chosen again from the dropped list reruns the chain below it.
  Choose(form.CBLine_L->Handle(), 0);
  Notify(form.CBRoot_L->Handle(), CBN_DROPDOWN);
  Notify(form.CBRoot_L->Handle(), CBN_SELENDOK);
  Notify(form.CBRoot_L->Handle(), CBN_CLOSEUP);
  EXPECT_EQ(SelectionOf(form.CBLine_L->Handle()), 1);
  // While the list is dropped the highlight moves without choosing; closing it does.
  Notify(form.CBRoot_L->Handle(), CBN_DROPDOWN);
  Choose(form.CBRoot_L->Handle(), 1);
  EXPECT_EQ(ItemsOf(form.CBLine_L->Handle()),
            (std::vector<std::string>{"Playback", "PCM", "Line"}));
  Notify(form.CBRoot_L->Handle(), CBN_SELENDOK);
  EXPECT_EQ(ItemsOf(form.CBLine_L->Handle()), (std::vector<std::string>{"Capture", "Mic"}));

  // Unchecking a group disables what is inside it, captions included; from code too.
  const HWND card = form.CBCard->Handle();
  SendMessageW(form.GBCard->Handle(), BM_CLICK, 0, 0);
  EXPECT_FALSE(form.GBCard->Checked());
  EXPECT_FALSE(IsWindowEnabled(card));
  EXPECT_FALSE(IsWindowEnabled(form.ECardWait->UpDown()));
  EXPECT_FALSE(IsWindowEnabled(ChildWindowFromPoint(form.Handle(), POINT{20, 57 + 60})));
  form.GBCard->SetChecked(true);
  EXPECT_TRUE(IsWindowEnabled(card));
  EXPECT_TRUE(IsWindowEnabled(form.CBBitrate->Handle()));
  // The rate list's width and the silence level's range, as the form gives them.
  EXPECT_EQ(WidthOf(form.CBBitrate->Handle()), 84);
  EXPECT_EQ(SendMessageW(form.SSilence->Handle(), TBM_GETRANGEMIN, 0, 0), -42);
  EXPECT_EQ(SendMessageW(form.SSilence->Handle(), TBM_GETRANGEMAX, 0, 0), -12);

  // "Separately contol" off hides the right column and widens the left one over the group.
  SendMessageW(form.CBSeparately->Handle(), BM_CLICK, 0, 0);
  for (HWND right : {form.CBDevice_R->Handle(), form.CBRoot_R->Handle(), form.CBLine_R->Handle(),
                     form.TBLevel_R->Handle(), form.SBEqual->Handle()})
    EXPECT_FALSE(Shown(right));
  EXPECT_EQ(WidthOf(form.CBDevice_L->Handle()), 437 - 52 - 4);
  EXPECT_EQ(WidthOf(form.TBLevel_L->Handle()), 437 - 52 - 4);
  SendMessageW(form.CBSeparately->Handle(), BM_CLICK, 0, 0);
  EXPECT_TRUE(Shown(form.CBLine_R->Handle()));
  EXPECT_EQ(WidthOf(form.CBDevice_L->Handle()), 180);
}

TEST_F(SettingsDialogOnWin32, ADropDownListRunsOnceForEachChoiceWhateverTheOrderOfNotices) {
  Win32SettingsForm form(owner);
  ui::win32::Win32DropDownList list(form.Handle(), 999, RECT{0, 0, 100, 200});
  list.SetItems({"one", "two", "three"});
  int changes = 0;
  list.OnChange = [&] { ++changes; };
  const HWND handle = list.Handle();
  // Chosen with the mouse, the order Wine reports: closed, then changed.
  Notify(handle, CBN_DROPDOWN);
  SendMessageW(handle, CB_SETCURSEL, 1, 0);
  for (const int code : {CBN_SELENDOK, CBN_CLOSEUP, CBN_SELCHANGE})
    Notify(handle, static_cast<WORD>(code));
  EXPECT_EQ(changes, 1);
  // Changed while dropped, then closed, as Windows may report it.
  Notify(handle, CBN_DROPDOWN);
  SendMessageW(handle, CB_SETCURSEL, 2, 0);
  for (const int code : {CBN_SELCHANGE, CBN_SELENDOK, CBN_CLOSEUP})
    Notify(handle, static_cast<WORD>(code));
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(list.ItemIndex(), 2);
  // The arrow keys on the closed list, also back to the item chosen last.
  Choose(handle, 1);
  Choose(handle, 2);
  EXPECT_EQ(changes, 4);
  // Dropped and closed again without a choice.
  Notify(handle, CBN_DROPDOWN);
  Notify(handle, CBN_SELENDCANCEL);
  Notify(handle, CBN_CLOSEUP);
  EXPECT_EQ(changes, 4);
}

TEST_F(SettingsDialogOnWin32, SpinEditsTakeTypedNumbersAndArrowsWithinTheirRange) {
  Load(kStoredLines);
  Win32SettingsForm form(owner);
  settings::TFSetting dialog(app::WidgetsOf(form), Services());
  const HWND silenceTime = form.ESilenceTime->Handle();

  Type(silenceTime, L"4.56");
  EXPECT_DOUBLE_EQ(form.ESilenceTime->Value(), 4.6);
  Type(silenceTime, L"4.");
  EXPECT_DOUBLE_EQ(form.ESilenceTime->Value(), 4.0);
  Type(silenceTime, L"abc");
  EXPECT_DOUBLE_EQ(form.ESilenceTime->Value(), 4.0) << "no number: the value stays";
  Type(silenceTime, L"99");
  EXPECT_DOUBLE_EQ(form.ESilenceTime->Value(), 30.0);
  // Leaving the field shows the value it holds.
  Type(silenceTime, L"x");
  Notify(silenceTime, EN_KILLFOCUS);
  EXPECT_EQ(TextOf(silenceTime), "30.0");

  // The arrows step by one inside the range, from the keyboard and from the up-down.
  SendMessageW(form.ECardWait->Handle(), WM_KEYDOWN, VK_UP, 0);
  EXPECT_DOUBLE_EQ(form.ECardWait->Value(), 11.0);
  EXPECT_EQ(TextOf(form.ECardWait->Handle()), "11");
  NMUPDOWN down{};
  down.hdr = {form.ECardWait->UpDown(),
              static_cast<UINT_PTR>(GetDlgCtrlID(form.ECardWait->UpDown())), UDN_DELTAPOS};
  down.iDelta = -10;
  EXPECT_NE(
      SendMessageW(form.Handle(), WM_NOTIFY, down.hdr.idFrom, reinterpret_cast<LPARAM>(&down)), 0)
      << "the up-down itself does not move";
  EXPECT_DOUBLE_EQ(form.ECardWait->Value(), 5.0);

  // A value from code is kept exactly, whatever the field shows.
  form.EFadeOut->SetValue(0.25);
  EXPECT_DOUBLE_EQ(form.EFadeOut->Value(), 0.25);
}

TEST_F(SettingsDialogOnWin32, SaveWritesWhatTheUserChoseAndAMessageKeepsTheDialogOpen) {
  Load(kStoredLines);
  const std::string before = IniBytes();
  Win32SettingsForm form(owner);
  settings::TFSetting dialog(app::WidgetsOf(form), Services());
  ShowWindow(form.Handle(), SW_SHOWNA);

  // Interactive mode without a program ID: the error box over the dialog, nothing saved.
  SendMessageW(form.CBSourceMode->Handle(), BM_CLICK, 0, 0);
  std::string shown;
  HWND boxOwner = nullptr;
  {
    const InsideModalLoop inside([&] {
      const HWND box = ThreadWindowOfClass(L"#32770");
      ASSERT_NE(box, nullptr);
      boxOwner = GetWindow(box, GW_OWNER);
      shown = TextOf(GetDlgItem(box, 0xFFFF));
      SendMessageW(box, WM_COMMAND, IDOK, 0);
    });
    SendMessageW(form.SBSave->Handle(), BM_CLICK, 0, 0);
  }
  EXPECT_EQ(shown, "The program ID (PID) must not be equal 0");
  EXPECT_EQ(boxOwner, form.Handle());
  EXPECT_EQ(IniBytes(), before);

  Type(form.EPID->Handle(), L"4711");
  Choose(form.CBCard->Handle(), 0);
  Choose(form.CBBitrate->Handle(), 2);
  Drag(form.SSilence->Handle(), -30);
  Type(form.ESilenceTime->Handle(), L"4.5");
  SendMessageW(form.CBHide->Handle(), BM_CLICK, 0, 0);
  SendMessageW(form.CBAutoStart->Handle(), BM_CLICK, 0, 0);
  Drag(form.TBLevel_L->Handle(), 128);
  SendMessageW(form.CBSeparately->Handle(), BM_CLICK, 0, 0);
  Type(form.EMixerWait->Handle(), L"42");
  SendMessageW(form.SBSave->Handle(), BM_CLICK, 0, 0);
  EXPECT_TRUE(form.ShowModal()) << "the save ended the dialog with the OK result";
  EXPECT_TRUE(settings::CardChanged && settings::MixerLevelChanged && settings::MixerDeviceChanged);

  store.LoadSettings();
  EXPECT_TRUE(Settings.SourceMode);
  EXPECT_EQ(Settings.PID, 4711);
  EXPECT_TRUE(Settings.Hide);
  EXPECT_EQ(Settings.Card, "Realtek HD Audio Input");
  EXPECT_EQ(Settings.Bitrate, 32000);
  EXPECT_EQ(Settings.SilenceLevel, -30);
  EXPECT_EQ(Settings.SilenceTime, 4.5);
  EXPECT_FALSE(Settings.LRControl);
  EXPECT_EQ(Settings.Lines[0].Level, 32896);
  EXPECT_EQ(Settings.Lines[1].Level, 32896);
  EXPECT_EQ(Settings.Lines[1].Device, "");
  EXPECT_EQ(Settings.Lines[1].Root, -1);
  EXPECT_EQ(Settings.MixerWait, 42);
  EXPECT_FALSE(Settings.SetLevel) << "never in interactive mode";
  ASSERT_EQ(runKeys.user.size(), 1u);
  EXPECT_EQ(runKeys.user[0].Text, "C:\\calvora\\calvora-audio-mixer.exe");
  for (const auto& entry : fs::directory_iterator(dir))
    EXPECT_EQ(entry.path().filename(), "calvora.ini") << "no file left beside it";
}

TEST_F(SettingsDialogOnWin32, ModalFrameOverTheOwnerAndEscapeOrCloseWriteNothing) {
  Load(kStoredLines);
  const settings::SettingsRecord stored = Settings;
  const std::string before = IniBytes();

  EXPECT_FALSE(EditModally([&](Win32SettingsForm& form) {
    const HWND dialog = form.Handle();
    wchar_t className[32]{};
    GetClassNameW(dialog, className, 32);
    EXPECT_STREQ(className, Win32SettingsForm::kClassName);
    EXPECT_EQ(TextOf(dialog), "Settings");
    RECT client{};
    GetClientRect(dialog, &client);
    EXPECT_EQ(client.right, 437);
    EXPECT_EQ(client.bottom, 424);
    const auto style = static_cast<DWORD>(GetWindowLongPtrW(dialog, GWL_STYLE));
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));
    EXPECT_EQ(GetWindow(dialog, GW_OWNER), owner);
    EXPECT_FALSE(IsWindowEnabled(owner));
    // The user changes a device, a level and a time, then leaves with Escape.
    Choose(form.CBDevice_L->Handle(), 1);
    EXPECT_EQ(Settings.Lines[0].Device, "USB Audio  Device");
    Drag(form.SSilence->Handle(), -13);
    Type(form.ECardWait->Handle(), L"99");
    Press(form.ECardWait->Handle(), VK_ESCAPE);
  }));
  EXPECT_TRUE(userActed);
  EXPECT_TRUE(IsWindowEnabled(owner));
  EXPECT_EQ(Settings, stored);
  EXPECT_EQ(IniBytes(), before);

  // The close button of the caption.
  userActed = false;
  EXPECT_FALSE(EditModally([&](Win32SettingsForm& form) {
    SendMessageW(form.CBHide->Handle(), BM_CLICK, 0, 0);
    PostMessageW(form.Handle(), WM_SYSCOMMAND, SC_CLOSE, 0);
  }));
  EXPECT_TRUE(userActed);
  EXPECT_EQ(Settings, stored);
  EXPECT_EQ(IniBytes(), before);
}

TEST_F(SettingsDialogOnWin32, EnterSavesExceptOnTheEqualButtonAndAnOpenListTakesEscape) {
  Load(kStoredLines);
  EXPECT_TRUE(EditModally([&](Win32SettingsForm& form) {
    // Enter on "=" presses it, and the dialog stays.
    Drag(form.TBLevel_L->Handle(), 77);
    Press(form.SBEqual->Handle(), VK_RETURN);
    // Escape with a dropped list closes the list, not the dialog.
    SendMessageW(form.CBBitrate->Handle(), CB_SHOWDROPDOWN, TRUE, 0);
    EXPECT_TRUE(SendMessageW(form.CBBitrate->Handle(), CB_GETDROPPEDSTATE, 0, 0));
    Press(form.CBBitrate->Handle(), VK_ESCAPE);
    // Enter in a field saves what the field holds.
    Type(form.EFadeIn->Handle(), L"2.5");
    Press(form.EFadeIn->Handle(), VK_RETURN);
  }));
  EXPECT_TRUE(userActed);
  store.LoadSettings();
  EXPECT_EQ(Settings.FadeIn, 2.5);
  EXPECT_EQ(Settings.Lines[1].Level, 77 * 257);
  EXPECT_EQ(Settings.Bitrate, 44100);
}

TEST_F(SettingsDialogOnWin32, TheProgramsDialogRunsOverItsOwnerAndLeavesWithEscape) {
  Load(kStoredLines);
  const std::string before = IniBytes();
  bool escaped = false;
  const bool saved = store.EditSettings([&] {
    const InsideModalLoop inside([&] {
      const HWND dialog = ThreadWindowOfClass(Win32SettingsForm::kClassName);
      ASSERT_NE(dialog, nullptr);
      EXPECT_EQ(GetWindow(dialog, GW_OWNER), owner);
      const HWND focus = GetFocus();
      // Other programs on the same desktop may hold the foreground, and with it the focus.
      Press(IsChild(dialog, focus) ? focus : GetWindow(dialog, GW_CHILD), VK_ESCAPE);
      escaped = true;
    });
    return app::RunSettingsDialog(owner, Services());
  });
  EXPECT_TRUE(escaped);
  EXPECT_FALSE(saved);
  EXPECT_EQ(ThreadWindowOfClass(Win32SettingsForm::kClassName), nullptr) << "destroyed";
  EXPECT_EQ(IniBytes(), before);
}

TEST_F(SettingsDialogOnWin32, SkinColoursOnScreenAndPicturesWithAndWithoutTheRightColumn) {
  Load(kStoredLines);
  Win32SettingsForm form(owner);
  settings::TFSetting dialog(app::WidgetsOf(form), Services());
  ShowWindow(form.Handle(), SW_SHOWNA);
  UpdateWindow(form.Handle());
  ::MSG message{};
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
    DispatchMessageW(&message);

  const auto pixel = [](HWND window, int x, int y) {
    const HDC dc = GetDC(window);
    const COLORREF color = GetPixel(dc, x, y);
    ReleaseDC(window, dc);
    return color;
  };
  EXPECT_EQ(pixel(form.Handle(), 4, 420), ui::win32::skin::kWindow);
  EXPECT_EQ(pixel(form.Handle(), 432, 150), ui::win32::skin::kGroup) << "inside \"Use soundcard\"";
  EXPECT_EQ(pixel(form.Handle(), 0, 150), ui::win32::skin::kGroupBorder);
  EXPECT_EQ(pixel(form.EPID->Handle(), WidthOf(form.EPID->Handle()) - 5, 4),
            ui::win32::skin::kField);

  EXPECT_TRUE(testing::SaveWindowPicture(form.Handle(), "settings-dialog-separately-on.png"));
  SendMessageW(form.CBSeparately->Handle(), BM_CLICK, 0, 0);
  UpdateWindow(form.Handle());
  EXPECT_TRUE(testing::SaveWindowPicture(form.Handle(), "settings-dialog-separately-off.png"));
}

}  // namespace
}  // namespace calvora
