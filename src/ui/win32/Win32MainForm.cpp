#include "ui/win32/Win32MainForm.h"

#include "platform/win32/WideText.h"
#include "ui/win32/Resources.h"
#include "ui/win32/Skin.h"

namespace calvora::ui::win32 {

namespace {

constexpr int kLedLeft = MainFormLayout::kGroupInset + MainFormLayout::kLedFrame.left;
constexpr int kLedTop = MainFormLayout::kLedFrame.top;

enum ControlId : int {
  kSGCardId = 101,
  kLabCardId,
  kLedId,
  kSGMixerId,
  kLabMixerId,
  kSGLevelId,
  kLabSilenceId,
  kSBSettingsId
};

// A place relative to a panel's top; across, in the window's coordinates.
RECT At(int left, int top, int width, int height) {
  return {left, top, left + width, top + height};
}

// A widget's place in a device group, which sits in from the window's left edge.
RECT InGroup(const Box& box) {
  return At(MainFormLayout::kGroupInset + box.left, box.top, box.width, box.height);
}

// A widget's place in a panel as wide as the window.
RECT InPanel(const Box& box) {
  return At(box.left, box.top, box.width, box.height);
}

// A role's control created at its place in the panel, and added to the panel.
template <typename Role, typename... Args>
std::unique_ptr<Role> Placed(Win32Panel& panel, HWND parent, int id, const RECT& place,
                             Args&&... args) {
  auto role = std::make_unique<Role>(parent, id, place, std::forward<Args>(args)...);
  panel.Add(role->Handle(), place);
  return role;
}

}  // namespace

Win32MainForm::Win32MainForm(HWND window, const std::string& title)
    : PanWork(L"", 0),
      PanCard(L"Soundcard", kPanCardHeight),
      PanLed(L"", kLedHeight + 2),
      PanMixer(L"Mixer", kPanMixerHeight),
      PanSett(L"", kPanSettHeight),
      ImgLed(kLedWidth, kLedHeight),
      TrayIcon(window),
      MSG(window, title),
      window_(window),
      statusFont_(BoldFont(16)),
      boldFont_(BoldFont(11)),
      fieldBrush_(CreateSolidBrush(skin::kField)),
      groupBrush_(CreateSolidBrush(skin::kGroup)) {
  SetWindowLongPtrW(window_, GWL_STYLE,
                    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN);
  SetIcons();
  // The window's class comes without a cursor: the arrow unless a part shows another.
  SetClassLongPtrW(window_, GCLP_HCURSOR,
                   reinterpret_cast<LONG_PTR>(LoadCursorW(nullptr, IDC_ARROW)));
  taskbarCreated_ = RegisterWindowMessageW(L"TaskbarCreated");
  // Run elevated, the window would otherwise not hear it from the user's shell.
  ChangeWindowMessageFilterEx(window_, taskbarCreated_, MSGFLT_ALLOW, nullptr);
  desktopProcedure_ = TakeMessages(window_);

  SGCard = Placed<Win32Gauge>(PanCard, window_, kSGCardId, InGroup(kSGCard),
                              Win32Gauge::Shows::Text, skin::kGaugeChunk);
  LabCard =
      Placed<Win32Label>(PanCard, window_, kLabCardId, InGroup(kLabCard), "STOP", colors::kRed);
  const RECT led = At(kLedLeft + 1, kLedTop + 1, kLedWidth, kLedHeight);
  ledView_ = CreateChild(window_, L"STATIC", SS_OWNERDRAW | SS_NOTIFY, kLedId, led);
  PanLed.Add(ledView_, led);
  ImgLed.ShowIn(ledView_);

  SGMixer = Placed<Win32Gauge>(PanMixer, window_, kSGMixerId, InGroup(kSGMixer),
                               Win32Gauge::Shows::Text, skin::kGaugeChunk);
  LabMixer =
      Placed<Win32Label>(PanMixer, window_, kLabMixerId, InGroup(kLabMixer), "STOP", colors::kRed);
  SGLevel = Placed<Win32Gauge>(PanMixer, window_, kSGLevelId, InGroup(kSGLevel),
                               Win32Gauge::Shows::Percentage, skin::kLevelChunk);
  LabSilence = Placed<Win32Label>(PanMixer, window_, kLabSilenceId, InGroup(kLabSilence), "Level",
                                  colors::kGreen);
  SBSettings =
      Placed<Win32Button>(PanSett, window_, kSBSettingsId, InPanel(kSBSettings), L"Settings");

  SendMessageW(LabCard->Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(statusFont_), FALSE);
  SendMessageW(LabMixer->Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(statusFont_), FALSE);
  SendMessageW(LabSilence->Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(boldFont_), FALSE);

  for (Win32Panel* panel : {&PanWork, &PanCard, &PanLed, &PanMixer, &PanSett})
    panel->onChange = [this] { Layout(); };
  SetClientHeight(clientHeight_);
}

Win32MainForm::~Win32MainForm() {
  TrayIcon.SetVisible(false);
  SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(desktopProcedure_));
  LeaveMessages(window_);
  for (HGDIOBJ object : {static_cast<HGDIOBJ>(statusFont_), static_cast<HGDIOBJ>(boldFont_),
                         static_cast<HGDIOBJ>(fieldBrush_), static_cast<HGDIOBJ>(groupBrush_)})
    DeleteObject(object);
}

void Win32MainForm::SetIcons() {
  // The program's icon from its resources, at the caption's and the task switcher's sizes;
  // a program without it (a test) keeps the system's.
  const HINSTANCE module = GetModuleHandleW(nullptr);
  const struct {
    WPARAM which;
    int width, height;
  } kSizes[] = {{ICON_SMALL, GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON)},
                {ICON_BIG, GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON)}};
  for (const auto& size : kSizes) {
    const HANDLE icon = LoadImageW(module, MAKEINTRESOURCEW(CALVORA_ICON_APPLICATION), IMAGE_ICON,
                                   size.width, size.height, LR_SHARED);
    if (icon != nullptr)
      SendMessageW(window_, WM_SETICON, size.which, reinterpret_cast<LPARAM>(icon));
  }
}

void Win32MainForm::SetCaption(const std::string& caption) {
  SetWindowTextW(window_, platform::win32::Widen(caption).c_str());
}

std::string Win32MainForm::Caption() const {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window_)) + 1, L'\0');
  text.resize(
      static_cast<size_t>(GetWindowTextW(window_, text.data(), static_cast<int>(text.size()))));
  return platform::win32::Narrow(text);
}

void Win32MainForm::SetClientHeight(int height) {
  clientHeight_ = height;
  RECT frame{0, 0, kClientWidth, height};
  AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(window_, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongPtrW(window_, GWL_EXSTYLE)));
  SetWindowPos(window_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  Layout();
}

void Win32MainForm::Layout() {
  // The device panels stack at the top; a hidden one gives its room to the other. The
  // settings panel sits at the bottom.
  int top = 0;
  const bool cardShown = PanWork.Visible() && PanCard.Visible();
  PanCard.PlaceAt(top);
  PanCard.ShowMembers(cardShown);
  PanLed.PlaceAt(top);
  PanLed.ShowMembers(cardShown && PanLed.Visible());
  if (cardShown)
    top += PanCard.ClientHeight();
  PanMixer.PlaceAt(top);
  PanMixer.ShowMembers(PanWork.Visible() && PanMixer.Visible());
  PanSett.PlaceAt(clientHeight_ - PanSett.ClientHeight());
  PanSett.ShowMembers(PanSett.Visible());
  InvalidateRect(window_, nullptr, TRUE);
}

void Win32MainForm::Minimize() {
  if (!started_) {
    startState_ = StartState::Minimized;
    return;
  }
  ShowWindow(window_, SW_MINIMIZE);
}

void Win32MainForm::HideFromDesktop() {
  if (!started_) {
    startState_ = StartState::Hidden;
    return;
  }
  ShowWindow(window_, SW_HIDE);
}

void Win32MainForm::Restore() {
  started_ = true;
  ShowWindow(window_, IsIconic(window_) ? SW_RESTORE : SW_SHOW);
  SetForegroundWindow(window_);
}

bool Win32MainForm::ShownOnDesktop() const {
  if (!started_)
    return startState_ == StartState::Normal;
  return IsWindowVisible(window_) && !IsIconic(window_);
}

void Win32MainForm::ShowAtStart() {
  started_ = true;
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  RECT frame{};
  GetWindowRect(window_, &frame);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  SetWindowPos(window_, nullptr, (work.left + work.right - width) / 2,
               (work.top + work.bottom - height) / 2, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  switch (startState_) {
    case StartState::Normal:
      ShowWindow(window_, SW_SHOWNORMAL);
      UpdateWindow(window_);
      break;
    case StartState::Minimized:
      minimized_ = true;
      ShowWindow(window_, SW_SHOWMINNOACTIVE);
      break;
    case StartState::Hidden:
      break;
  }
}

void Win32MainForm::Close() {
  SendMessageW(window_, WM_CLOSE, 0, 0);
}

Win32Label* Win32MainForm::LabelOf(HWND control) const {
  for (Win32Label* label : {LabCard.get(), LabMixer.get(), LabSilence.get()})
    if (label->Handle() == control)
      return label;
  return nullptr;
}

RECT Win32MainForm::LedFrame() const {
  return At(kLedLeft, PanCard.Top() + kLedTop, kLedWidth + 2, kLedHeight + 2);
}

bool Win32MainForm::OverClickablePart(HWND under) const {
  if (under == ledView_ || under == LabSilence->Handle())
    return IsWindowVisible(under) != FALSE;
  if (under != window_ || !IsWindowVisible(ledView_))
    return false;
  POINT cursor{};
  GetCursorPos(&cursor);
  ScreenToClient(window_, &cursor);
  const RECT frame = LedFrame();
  return PtInRect(&frame, cursor) != FALSE;
}

void Win32MainForm::PaintPanel(HDC dc, const Win32Panel& panel) const {
  const int top = panel.Top();
  PaintGroup(dc, {kGroupInset, top, kClientWidth - kGroupInset, top + panel.ClientHeight()},
             panel.Title(), boldFont_, groupBrush_);
}

void Win32MainForm::Paint() {
  PAINTSTRUCT paint{};
  const HDC dc = BeginPaint(window_, &paint);
  RECT client{};
  GetClientRect(window_, &client);
  const HBRUSH background = CreateSolidBrush(skin::kWindow);
  FillRect(dc, &client, background);
  DeleteObject(background);
  if (PanWork.Visible() && PanCard.Visible()) {
    PaintPanel(dc, PanCard);
    if (PanLed.Visible()) {
      RECT frame = LedFrame();
      const HBRUSH border = CreateSolidBrush(skin::kLedBorder);
      FrameRect(dc, &frame, border);
      DeleteObject(border);
    }
  }
  if (PanWork.Visible() && PanMixer.Visible())
    PaintPanel(dc, PanMixer);
  EndPaint(window_, &paint);
}

LRESULT Win32MainForm::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == taskbarCreated_ && taskbarCreated_ != 0) {
    TrayIcon.ShellRestarted();
    return 0;
  }
  switch (message) {
    case WM_SETCURSOR:
      // The controls ask their parent first; over the client area the class's arrow is
      // the default.
      if (LOWORD(lParam) == HTCLIENT && OverClickablePart(reinterpret_cast<HWND>(wParam))) {
        SetCursor(LoadCursorW(nullptr, IDC_HAND));
        return TRUE;
      }
      break;
    case WM_PAINT:
      Paint();
      return 0;
    case WM_ERASEBKGND:
      return 1;  // WM_PAINT fills the whole client area
    case WM_CTLCOLORSTATIC:
      if (Win32Label* label = LabelOf(reinterpret_cast<HWND>(lParam))) {
        const HDC dc = reinterpret_cast<HDC>(wParam);
        SetTextColor(dc, skin::ToColorRef(label->TextColor()));
        const bool onField = label != LabSilence.get();
        SetBkColor(dc, onField ? skin::kField : skin::kGroup);
        return reinterpret_cast<LRESULT>(onField ? fieldBrush_ : groupBrush_);
      }
      break;
    case WM_DRAWITEM: {
      const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (item.hwndItem == ledView_)
        ImgLed.CopyTo(item.hDC, 0, 0);
      for (const Win32Gauge* gauge : {SGCard.get(), SGMixer.get(), SGLevel.get()})
        if (item.hwndItem == gauge->Handle())
          gauge->Draw(item);
      return TRUE;
    }
    case WM_COMMAND:
      if (Win32Notified* role = Win32Notified::Of(reinterpret_cast<HWND>(lParam))) {
        role->Command(HIWORD(wParam));
        return 0;
      }
      break;
    case WM_SIZE:
      if (wParam == SIZE_MINIMIZED && !minimized_) {
        minimized_ = true;
        if (OnMinimize)
          OnMinimize();
      } else if (wParam == SIZE_RESTORED && minimized_) {
        minimized_ = false;
        if (OnRestore)
          OnRestore();
      }
      return 0;
    case WM_CLOSE:
      if (OnCloseQuery && !OnCloseQuery())
        return 0;
      closed_ = true;
      TrayIcon.SetVisible(false);
      ShowWindow(window_, SW_HIDE);
      // The program ends with its main window, even when the window was hidden in the tray.
      PostQuitMessage(0);
      return 0;
    case WM_QUERYENDSESSION:
      if (OnSessionEnd)
        OnSessionEnd();
      return TRUE;
    case WM_TIMER:
      if (wParam == Win32TrayIcon::kAnimationTimer) {
        TrayIcon.NextImage();
        return 0;
      }
      break;
    case Win32TrayIcon::kCallbackMessage:
      TrayIcon.Notified(lParam);
      return 0;
    default:
      break;
  }
  return CallWindowProcW(desktopProcedure_, window_, message, wParam, lParam);
}

}  // namespace calvora::ui::win32
