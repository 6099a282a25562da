#include "ui/win32/Win32Roles.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>

#include "platform/win32/WideText.h"
#include "ui/win32/Resources.h"
#include "ui/win32/Skin.h"

namespace calvora::ui::win32 {

using platform::win32::Widen;

HWND CreateChild(HWND parent, const wchar_t* className, DWORD style, int id, const RECT& place) {
  const HWND child = CreateWindowExW(0, className, L"", WS_CHILD | WS_VISIBLE | style, place.left,
                                     place.top, place.right - place.left, place.bottom - place.top,
                                     parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                     GetModuleHandleW(nullptr), nullptr);
  SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)),
               FALSE);
  return child;
}

Win32Label::Win32Label(HWND parent, int id, const RECT& place, const std::string& text, Color color)
    : handle_(CreateChild(parent, L"STATIC", SS_CENTER | SS_CENTERIMAGE | SS_NOTIFY, id, place)),
      color_(color) {
  SetText(text);
}

void Win32Label::SetText(const std::string& text) {
  text_ = text;
  SetWindowTextW(handle_, Widen(text).c_str());
}

void Win32Label::SetColor(Color color) {
  color_ = color;
  InvalidateRect(handle_, nullptr, TRUE);
}

Win32Gauge::Win32Gauge(HWND parent, int id, const RECT& place, Shows shows, COLORREF chunk)
    : handle_(CreateChild(parent, L"STATIC", SS_OWNERDRAW, id, place)),
      shows_(shows),
      chunk_(chunk) {
  SetWindowTextW(handle_, Shown().c_str());
}

void Win32Gauge::SetProgress(int value) {
  const int progress = std::clamp(value, 0, 100);
  if (progress == progress_)
    return;
  progress_ = progress;
  if (shows_ == Shows::Percentage)
    SetWindowTextW(handle_, Shown().c_str());
  InvalidateRect(handle_, nullptr, FALSE);
}

void Win32Gauge::SetText(const std::string& text) {
  text_ = text;
  if (shows_ == Shows::Text)
    SetWindowTextW(handle_, Shown().c_str());
  InvalidateRect(handle_, nullptr, FALSE);
}

std::wstring Win32Gauge::Shown() const {
  // The control's own text is what it shows, so screen readers and other programs read it.
  return shows_ == Shows::Text ? Widen(text_) : std::to_wstring(progress_) + L"%";
}

void Win32Gauge::Draw(const DRAWITEMSTRUCT& item) const {
  const HDC dc = item.hDC;
  RECT area = item.rcItem;
  const HBRUSH border = CreateSolidBrush(skin::kFieldBorder);
  const HBRUSH field = CreateSolidBrush(skin::kField);
  const HBRUSH chunk = CreateSolidBrush(chunk_);
  FillRect(dc, &area, field);
  FrameRect(dc, &area, border);
  RECT bar{area.left + 1, area.top + 1, 0, area.bottom - 1};
  bar.right = bar.left + (area.right - area.left - 2) * progress_ / 100;
  FillRect(dc, &bar, chunk);
  DeleteObject(border);
  DeleteObject(field);
  DeleteObject(chunk);
  const std::wstring shown = Shown();
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, skin::kGaugeText);
  DrawTextW(dc, shown.c_str(), static_cast<int>(shown.size()), &area,
            DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS);
}

void Win32Panel::SetVisible(bool visible) {
  visible_ = visible;
  if (onChange)
    onChange();
}

void Win32Panel::SetClientHeight(int height) {
  height_ = height;
  if (onChange)
    onChange();
}

void Win32Panel::Add(HWND control, const RECT& place) {
  members_.push_back({control, place});
}

void Win32Panel::PlaceAt(int top) {
  top_ = top;
  for (const Member& member : members_)
    SetWindowPos(member.control, nullptr, member.place.left, top + member.place.top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32Panel::ShowMembers(bool shown) const {
  for (const Member& member : members_)
    ShowWindow(member.control, shown ? SW_SHOWNA : SW_HIDE);
}

Win32Button::Win32Button(HWND parent, int id, const RECT& place, const wchar_t* caption)
    : handle_(CreateChild(parent, L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP, id, place)) {
  SetWindowTextW(handle_, caption);
}

Win32TrayIcon::Win32TrayIcon(HWND owner) : owner_(owner) {
  // The program's resources carry the eight images at the notification area's size; a
  // program without them (a test) shows the system's application icon instead.
  const HINSTANCE module = GetModuleHandleW(nullptr);
  for (int i = 0; i < kImageCount; ++i) {
    images_[i] = static_cast<HICON>(
        LoadImageW(module, MAKEINTRESOURCEW(CALVORA_ICON_TRAY_FIRST + i), IMAGE_ICON,
                   GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
  }
}

Win32TrayIcon::~Win32TrayIcon() {
  SetVisible(false);
  for (HICON image : images_) {
    if (image != nullptr)
      DestroyIcon(image);
  }
}

HICON Win32TrayIcon::Image(int index) const {
  const HICON image = images_[static_cast<size_t>(index)];
  return image != nullptr ? image : LoadIconW(nullptr, IDI_APPLICATION);
}

void Win32TrayIcon::SetHint(const std::string& hint) {
  hint_ = hint;
  if (visible_)
    Update(NIM_MODIFY);
}

void Win32TrayIcon::SetVisible(bool visible) {
  if (visible == visible_)
    return;
  visible_ = visible;
  if (visible) {
    Update(NIM_ADD);
    SetTimer(owner_, kAnimationTimer, 70, nullptr);
  } else {
    KillTimer(owner_, kAnimationTimer);
    Update(NIM_DELETE);
  }
}

bool Win32TrayIcon::Available() const {
  return FindWindowW(L"Shell_TrayWnd", nullptr) != nullptr;
}

void Win32TrayIcon::NextImage() {
  imageIndex_ = (imageIndex_ + 1) % kImageCount;
  if (visible_)
    Update(NIM_MODIFY);
}

void Win32TrayIcon::Notified(LPARAM event) {
  if (event == WM_LBUTTONDBLCLK && OnDoubleClick)
    OnDoubleClick();
}

void Win32TrayIcon::Update(DWORD action) {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof data;
  data.hWnd = owner_;
  data.uID = 1;
  data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data.uCallbackMessage = kCallbackMessage;
  data.hIcon = Image(imageIndex_);
  const std::wstring tip = Widen(hint_).substr(0, std::size(data.szTip) - 1);
  std::copy(tip.begin(), tip.end(), data.szTip);
  Shell_NotifyIconW(action, &data);
}

bool Win32MessageBox::ConfirmYesNo(const std::string& text) {
  return ::MessageBoxW(owner_, Widen(text).c_str(), Widen(title_).c_str(),
                       MB_YESNO | MB_ICONQUESTION) == IDYES;
}

void Win32MessageBox::ShowError(const std::string& text) {
  ::MessageBoxW(owner_, Widen(text).c_str(), Widen(title_).c_str(), MB_OK | MB_ICONERROR);
}

}  // namespace calvora::ui::win32
