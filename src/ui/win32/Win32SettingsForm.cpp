#include "ui/win32/Win32SettingsForm.h"

#include <commctrl.h>

#include <cwchar>
#include <string>

#include "platform/win32/WideText.h"
#include "ui/win32/Skin.h"

namespace calvora::ui::win32 {

namespace {

using platform::win32::Widen;

// A drop-down list's window is as high as its dropped list.
constexpr int kDroppedHeight = 200;
constexpr Color kTextColor{0xd8, 0xdd, 0xe6};

RECT At(int left, int top, int width, int height) {
  return {left, top, left + width, top + height};
}

// A widget's place in the window, in a group whose top is `top`; the groups span the window's
// width.
RECT In(int top, const Box& box) {
  return At(box.left, top + box.top, box.width, box.height);
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
      CreateWindowExW(kExStyle, kClassName, Widen(kTitle).c_str(), kStyle,
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

HWND Win32SettingsForm::Caption(const TextBox& text, int top, Win32CheckGroup* group) {
  const HWND caption =
      CreateChild(window_, L"STATIC", SS_LEFT | SS_CENTERIMAGE, 0, In(top, text.box));
  SetWindowTextW(caption, Widen(text.text).c_str());
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

  const auto checkBox = [&](const TextBox& box, int top) {
    return std::make_unique<Win32CheckBox>(window_, nextId(), In(top, box.box), box.text);
  };
  const auto spinEdit = [&](const SpinBox& spin, int top) {
    return std::make_unique<Win32SpinEdit>(window_, nextId(2), In(top, spin.box), spin.minimum,
                                           spin.maximum, spin.decimals, spin.value);
  };
  const auto slider = [&](const SliderBox& box, int top) {
    return std::make_unique<Win32Slider>(window_, nextId(), In(top, box.box), box.minimum,
                                         box.maximum, box.step, box.position);
  };
  const auto dropDownList = [&](const Box& box, int top) {
    return std::make_unique<Win32DropDownList>(
        window_, nextId(), At(box.left, top + box.top, box.width, kDroppedHeight));
  };

  mainPlace_ = At(0, 0, kClientWidth, kGBMainHeight);
  CBSourceMode = checkBox(kCBSourceMode, 0);
  EPID = spinEdit(kEPID, 0);
  CBAutoStart = checkBox(kCBAutoStart, 0);
  CBHide = checkBox(kCBHide, 0);

  const int card = kGBCardTop;
  GBCard = std::make_unique<Win32CheckGroup>(
      window_, nextId(), At(0, card, kClientWidth, kGBCardHeight), kGBCardTitle);
  CBCard = dropDownList(kCBCard, card);
  CBBitrate = dropDownList(kCBBitrate, card);
  Caption(kSilenceLevelCaption, card, GBCard.get());
  SSilence = slider(kSSilence, card);
  LSilence = std::make_unique<Win32Label>(window_, nextId(), In(card, kLSilence.box),
                                          kLSilence.text, kTextColor, SS_LEFT);
  Caption(kSilenceTimeCaption, card, GBCard.get());
  ESilenceTime = spinEdit(kESilenceTime, card);
  Caption(kRestoreTimeCaption, card, GBCard.get());
  ERestoreTime = spinEdit(kERestoreTime, card);
  Caption(kCardWaitCaption, card, GBCard.get());
  ECardWait = spinEdit(kECardWait, card);
  for (const HWND control :
       {CBCard->Handle(), CBBitrate->Handle(), SSilence->Handle(), LSilence->Handle(),
        ESilenceTime->Handle(), ESilenceTime->UpDown(), ERestoreTime->Handle(),
        ERestoreTime->UpDown(), ECardWait->Handle(), ECardWait->UpDown()})
    GBCard->Add(control);

  const int mixer = kGBMixerTop;
  GBMixer = std::make_unique<Win32CheckGroup>(
      window_, nextId(), At(0, mixer, kClientWidth, kGBMixerHeight), kGBMixerTitle);
  CBSeparately = checkBox(kCBSeparately, mixer);
  CBMuteOnly = checkBox(kCBMuteOnly, mixer);
  CBSetLevel = checkBox(kCBSetLevel, mixer);
  Caption(kDeviceCaption, mixer, GBMixer.get());
  CBDevice_L = dropDownList(kCBDevice_L, mixer);
  CBDevice_R = dropDownList(kCBDevice_R, mixer);
  Caption(kRootCaption, mixer, GBMixer.get());
  CBRoot_L = dropDownList(kCBRoot_L, mixer);
  CBRoot_R = dropDownList(kCBRoot_R, mixer);
  Caption(kLineCaption, mixer, GBMixer.get());
  CBLine_L = dropDownList(kCBLine_L, mixer);
  CBLine_R = dropDownList(kCBLine_R, mixer);
  Caption(kLevelCaption, mixer, GBMixer.get());
  TBLevel_L = slider(kTBLevel_L, mixer);
  SBEqual = std::make_unique<Win32SpeedButton>(window_, nextId(), In(mixer, kSBEqual.box),
                                               Widen(kSBEqual.text).c_str());
  TBLevel_R = slider(kTBLevel_R, mixer);
  Caption(kFadeOutCaption, mixer, GBMixer.get());
  EFadeOut = spinEdit(kEFadeOut, mixer);
  Caption(kFadeInCaption, mixer, GBMixer.get());
  EFadeIn = spinEdit(kEFadeIn, mixer);
  Caption(kMixerWaitCaption, mixer, GBMixer.get());
  EMixerWait = spinEdit(kEMixerWait, mixer);
  for (const HWND control :
       {CBSeparately->Handle(), CBMuteOnly->Handle(), CBSetLevel->Handle(), CBDevice_L->Handle(),
        CBDevice_R->Handle(), CBRoot_L->Handle(), CBRoot_R->Handle(), CBLine_L->Handle(),
        CBLine_R->Handle(), TBLevel_L->Handle(), SBEqual->Handle(), TBLevel_R->Handle(),
        EFadeOut->Handle(), EFadeOut->UpDown(), EFadeIn->Handle(), EFadeIn->UpDown(),
        EMixerWait->Handle(), EMixerWait->UpDown()})
    GBMixer->Add(control);

  // "Save settings" is the dialog's OK button: Enter presses it.
  SBSave = std::make_unique<Win32Button>(window_, IDOK, In(kPanSaveTop, kSBSave.box),
                                         Widen(kSBSave.text).c_str());
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
  std::wstring hint = Widen(kCBSourceModeHint);
  tool.lpszText = hint.data();
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
  PaintGroup(dc, mainPlace_, Widen(kGBMainTitle).c_str(), titleFont_, groupBrush_);
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
