#include "ui/win32/Win32SettingsForm.h"

#include <commctrl.h>

#include <cwchar>

#include "ui/win32/Skin.h"

namespace calvora::ui::win32 {

namespace {

constexpr int kRowHeight = 22;
constexpr int kLeftColumn = 52;
constexpr int kRightColumn = 248;
constexpr int kColumnWidth = 180;
// A drop-down list's window is as high as its dropped list.
constexpr int kDroppedHeight = 200;
constexpr Color kTextColor{0xd8, 0xdd, 0xe6};

RECT At(int left, int top, int width, int height = kRowHeight) {
  return {left, top, left + width, top + height};
}

void RegisterFormClass() {
  static const bool registered = [] {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.lpszClassName = Win32SettingsForm::kClassName;
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES | ICC_UPDOWN_CLASS};
    InitCommonControlsEx(&controls);
    return RegisterClassExW(&windowClass) != 0;
  }();
  (void)registered;
}

bool IsClass(HWND window, const wchar_t* name) {
  wchar_t className[32]{};
  GetClassNameW(window, className, static_cast<int>(std::size(className)));
  return _wcsicmp(className, name) == 0;
}

}  // namespace

Win32SettingsForm::Win32SettingsForm(HWND owner)
    : MSG(nullptr, "Calvora Audio Mixer"),
      owner_(owner),
      titleFont_(BoldFont(11)),
      windowBrush_(CreateSolidBrush(skin::kWindow)),
      groupBrush_(CreateSolidBrush(skin::kGroup)),
      fieldBrush_(CreateSolidBrush(skin::kField)) {
  RegisterFormClass();
  constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
  constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
  RECT frame{0, 0, kClientWidth, kClientHeight};
  AdjustWindowRectEx(&frame, kStyle, FALSE, kExStyle);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  window_ =
      CreateWindowExW(kExStyle, kClassName, L"Settings", kStyle,
                      (work.left + work.right - width) / 2, (work.top + work.bottom - height) / 2,
                      width, height, owner_, nullptr, GetModuleHandleW(nullptr), nullptr);
  MSG = Win32MessageBox(window_, "Calvora Audio Mixer");
  CreateControls();
  TakeMessages(window_);
}

Win32SettingsForm::~Win32SettingsForm() {
  // The controls' last notifications while they are destroyed find no form.
  LeaveMessages(window_);
  DestroyWindow(window_);
  for (HGDIOBJ object : {static_cast<HGDIOBJ>(titleFont_), static_cast<HGDIOBJ>(windowBrush_),
                         static_cast<HGDIOBJ>(groupBrush_), static_cast<HGDIOBJ>(fieldBrush_)})
    DeleteObject(object);
}

HWND Win32SettingsForm::Caption(const wchar_t* text, int x, int y, int width,
                                Win32CheckGroup* group) {
  const HWND caption =
      CreateChild(window_, L"STATIC", SS_LEFT | SS_CENTERIMAGE, 0, At(x, y, width));
  SetWindowTextW(caption, text);
  if (group)
    group->Add(caption);
  return caption;
}

void Win32SettingsForm::CreateControls() {
  int id = 200;
  // A spin edit takes two identifiers, its field's and its up-down's.
  const auto nextId = [&id](int count = 1) {
    const int taken = id;
    id += count;
    return taken;
  };

  mainPlace_ = At(0, 0, kClientWidth, kGBMainHeight);
  CBSourceMode = std::make_unique<Win32CheckBox>(window_, nextId(), At(8, 24, 188),
                                                 "Interactive mode. Program ID");
  EPID = std::make_unique<Win32SpinEdit>(window_, nextId(2), At(198, 24, 66), 0, 32767, 0, 0);
  CBAutoStart = std::make_unique<Win32CheckBox>(window_, nextId(), At(276, 24, 74), "Autostart");
  CBHide = std::make_unique<Win32CheckBox>(window_, nextId(), At(350, 24, 84), "Hide to tray");

  const int card = kGBMainHeight;
  const int cardHeight = kClientHeight - kGBMainHeight - kGBMixerHeight - kPanSaveHeight;
  GBCard = std::make_unique<Win32CheckGroup>(
      window_, nextId(), At(0, card, kClientWidth, cardHeight), "Use soundcard");
  CBCard =
      std::make_unique<Win32DropDownList>(window_, nextId(), At(8, card + 22, 340, kDroppedHeight));
  CBBitrate = std::make_unique<Win32DropDownList>(window_, nextId(),
                                                  At(350, card + 22, 84, kDroppedHeight));
  Caption(L"Silence level (dB)", 8, card + 54, 110, GBCard.get());
  SSilence =
      std::make_unique<Win32Slider>(window_, nextId(), At(120, card + 54, 236), -42, -12, 1, -38);
  LSilence = std::make_unique<Win32Label>(window_, nextId(), At(362, card + 54, 66), "-38 dB",
                                          kTextColor, SS_LEFT);
  Caption(L"Silence time (sec)", 8, card + 86, 104, GBCard.get());
  ESilenceTime =
      std::make_unique<Win32SpinEdit>(window_, nextId(2), At(110, card + 86, 54), 0, 30, 1, 0);
  Caption(L"Restore time", 172, card + 86, 76, GBCard.get());
  ERestoreTime =
      std::make_unique<Win32SpinEdit>(window_, nextId(2), At(248, card + 86, 54), 0, 30, 1, 0);
  Caption(L"Wait device", 310, card + 86, 68, GBCard.get());
  ECardWait =
      std::make_unique<Win32SpinEdit>(window_, nextId(2), At(378, card + 86, 52), 5, 180, 0, 10);
  for (const HWND control :
       {CBCard->Handle(), CBBitrate->Handle(), SSilence->Handle(), LSilence->Handle(),
        ESilenceTime->Handle(), ESilenceTime->UpDown(), ERestoreTime->Handle(),
        ERestoreTime->UpDown(), ECardWait->Handle(), ECardWait->UpDown()})
    GBCard->Add(control);

  const int mixer = kClientHeight - kPanSaveHeight - kGBMixerHeight;
  GBMixer = std::make_unique<Win32CheckGroup>(
      window_, nextId(), At(0, mixer, kClientWidth, kGBMixerHeight), "Use mixer");
  CBSeparately = std::make_unique<Win32CheckBox>(window_, nextId(), At(8, mixer + 20, 124),
                                                 "Separately contol");
  CBMuteOnly = std::make_unique<Win32CheckBox>(window_, nextId(), At(134, mixer + 20, 178),
                                               "Mute line only volume down");
  CBSetLevel = std::make_unique<Win32CheckBox>(window_, nextId(), At(312, mixer + 20, 122),
                                               "Set level with start");
  const auto column = [&](int x, int y) {
    return std::make_unique<Win32DropDownList>(window_, nextId(),
                                               At(x, mixer + y, kColumnWidth, kDroppedHeight));
  };
  Caption(L"Device", 8, mixer + 46, 44, GBMixer.get());
  CBDevice_L = column(kLeftColumn, 46);
  CBDevice_R = column(kRightColumn, 46);
  Caption(L"Root", 8, mixer + 72, 44, GBMixer.get());
  CBRoot_L = column(kLeftColumn, 72);
  CBRoot_R = column(kRightColumn, 72);
  Caption(L"Line", 8, mixer + 98, 44, GBMixer.get());
  CBLine_L = column(kLeftColumn, 98);
  CBLine_R = column(kRightColumn, 98);
  Caption(L"Level", 8, mixer + 126, 40, GBMixer.get());
  TBLevel_L = std::make_unique<Win32Slider>(window_, nextId(), At(48, mixer + 126, kColumnWidth), 0,
                                            255, 5, 255);
  SBEqual = std::make_unique<Win32SpeedButton>(window_, nextId(), At(230, mixer + 126, 16), L"=");
  TBLevel_R = std::make_unique<Win32Slider>(
      window_, nextId(), At(kRightColumn, mixer + 126, kColumnWidth), 0, 255, 5, 255);
  Caption(L"Fade out (sec)", 8, mixer + 168, 84, GBMixer.get());
  EFadeOut =
      std::make_unique<Win32SpinEdit>(window_, nextId(2), At(92, mixer + 168, 54), 0, 10, 1, 0);
  Caption(L"Fade in (sec)", 156, mixer + 168, 76, GBMixer.get());
  EFadeIn =
      std::make_unique<Win32SpinEdit>(window_, nextId(2), At(232, mixer + 168, 54), 0, 10, 1, 0);
  Caption(L"Wait device", 300, mixer + 168, 72, GBMixer.get());
  EMixerWait =
      std::make_unique<Win32SpinEdit>(window_, nextId(2), At(372, mixer + 168, 58), 5, 180, 0, 10);
  for (const HWND control :
       {CBSeparately->Handle(), CBMuteOnly->Handle(), CBSetLevel->Handle(), CBDevice_L->Handle(),
        CBDevice_R->Handle(), CBRoot_L->Handle(), CBRoot_R->Handle(), CBLine_L->Handle(),
        CBLine_R->Handle(), TBLevel_L->Handle(), SBEqual->Handle(), TBLevel_R->Handle(),
        EFadeOut->Handle(), EFadeOut->UpDown(), EFadeIn->Handle(), EFadeIn->UpDown(),
        EMixerWait->Handle(), EMixerWait->UpDown()})
    GBMixer->Add(control);

  // "Save settings" is the dialog's OK button: Enter presses it.
  SBSave = std::make_unique<Win32Button>(
      window_, IDOK, At(kClientWidth - 8 - 120, kClientHeight - kPanSaveHeight + 5, 120, 25),
      L"Save settings");
  SendMessageW(SBSave->Handle(), BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);

  GBCard->SetTitleFont(titleFont_);
  GBMixer->SetTitleFont(titleFont_);

  tooltip_ = CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                             CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window_, nullptr,
                             GetModuleHandleW(nullptr), nullptr);
  TOOLINFOW tool{};
  tool.cbSize = TTTOOLINFOW_V2_SIZE;
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = window_;
  tool.uId = reinterpret_cast<UINT_PTR>(CBSourceMode->Handle());
  tool.lpszText = const_cast<wchar_t*>(L"Start and wait command");
  SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

void Win32SettingsForm::EndModal(bool ok) {
  ended_ = true;
  accepted_ = ok;
}

bool Win32SettingsForm::ShowModal() {
  const bool ownerEnabled = owner_ != nullptr && IsWindowEnabled(owner_);
  if (ownerEnabled)
    EnableWindow(owner_, FALSE);
  ShowWindow(window_, SW_SHOWNORMAL);
  SetForegroundWindow(window_);
  SetFocus(CBSourceMode->Handle());
  ::MSG message{};
  while (!ended_) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got <= 0) {
      if (got == 0)
        PostQuitMessage(static_cast<int>(message.wParam));
      break;
    }
    // Enter on "=" presses it, as Space does; elsewhere Enter is the dialog's OK.
    if (message.message == WM_KEYDOWN && message.wParam == VK_RETURN &&
        message.hwnd == SBEqual->Handle()) {
      SBEqual->Click();
      continue;
    }
    if (!IsDialogMessageW(window_, &message)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  // The owner is enabled before the dialog hides, so that it is the window activated next.
  if (ownerEnabled)
    EnableWindow(owner_, TRUE);
  ShowWindow(window_, SW_HIDE);
  if (owner_ != nullptr)
    SetActiveWindow(owner_);
  const bool accepted = ended_ && accepted_;
  ended_ = false;
  accepted_ = false;
  return accepted;
}

void Win32SettingsForm::Paint() {
  PAINTSTRUCT paint{};
  const HDC dc = BeginPaint(window_, &paint);
  RECT client{};
  GetClientRect(window_, &client);
  FillRect(dc, &client, windowBrush_);
  PaintGroup(dc, mainPlace_, L"Main", titleFont_, groupBrush_);
  // The check groups' titles are their caption boxes.
  PaintGroup(dc, GBCard->Place(), L"", titleFont_, groupBrush_);
  PaintGroup(dc, GBMixer->Place(), L"", titleFont_, groupBrush_);
  EndPaint(window_, &paint);
}

LRESULT Win32SettingsForm::ColorOf(HWND control, HDC dc) const {
  // Fields are dark with light text; everything else sits on a group.
  if (IsClass(control, L"Edit") || IsClass(control, L"ComboBox") ||
      IsClass(control, L"ComboLBox")) {
    SetTextColor(dc, skin::kWindowText);
    SetBkColor(dc, skin::kField);
    return reinterpret_cast<LRESULT>(fieldBrush_);
  }
  if (control == LSilence->Handle()) {
    SetTextColor(dc, skin::ToColorRef(LSilence->TextColor()));
    SetBkColor(dc, skin::kGroup);
    return reinterpret_cast<LRESULT>(groupBrush_);
  }
  if (control == SBSave->Handle()) {
    SetBkColor(dc, skin::kWindow);
    return reinterpret_cast<LRESULT>(windowBrush_);
  }
  const bool title = control == GBCard->Handle() || control == GBMixer->Handle();
  SetTextColor(dc, title ? skin::kGroupTitle : skin::kWindowText);
  SetBkColor(dc, skin::kGroup);
  return reinterpret_cast<LRESULT>(groupBrush_);
}

LRESULT Win32SettingsForm::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT:
      Paint();
      return 0;
    case WM_ERASEBKGND:
      return 1;  // WM_PAINT fills the whole client area
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
      return ColorOf(reinterpret_cast<HWND>(lParam), reinterpret_cast<HDC>(wParam));
    case WM_COMMAND: {
      const auto control = reinterpret_cast<HWND>(lParam);
      // Escape, as the dialog manager reports it: there is no Cancel button.
      if (LOWORD(wParam) == IDCANCEL && control == nullptr) {
        EndModal(false);
        return 0;
      }
      if (Win32Notified* role = Win32Notified::Of(control))
        role->Command(HIWORD(wParam));
      return 0;
    }
    case WM_HSCROLL:
      if (Win32Notified* role = Win32Notified::Of(reinterpret_cast<HWND>(lParam)))
        role->Scrolled();
      return 0;
    case WM_NOTIFY: {
      const auto& header = *reinterpret_cast<const NMHDR*>(lParam);
      LRESULT result = 0;
      if (Win32Notified* role = Win32Notified::Of(header.hwndFrom))
        if (role->Notify(header, result))
          return result;
      break;
    }
    case DM_GETDEFID:
      return MAKELRESULT(IDOK, DC_HASDEFID);
    case WM_CLOSE:
      EndModal(false);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window_, message, wParam, lParam);
}

}  // namespace calvora::ui::win32
