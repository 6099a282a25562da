#include "ui/win32/Win32Roles.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cwchar>

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

RECT PlaceInParent(HWND window) {
  RECT place{};
  GetWindowRect(window, &place);
  MapWindowPoints(nullptr, GetParent(window), reinterpret_cast<POINT*>(&place), 2);
  return place;
}

void PaintGroup(HDC dc, const RECT& place, const std::wstring& title, HFONT titleFont,
                HBRUSH fill) {
  RECT group{place.left, place.top + 6, place.right, place.bottom};
  FillRect(dc, &group, fill);
  const HBRUSH border = CreateSolidBrush(skin::kGroupBorder);
  FrameRect(dc, &group, border);
  DeleteObject(border);
  if (title.empty())
    return;
  SelectObject(dc, titleFont);
  SetBkColor(dc, skin::kGroup);
  SetBkMode(dc, OPAQUE);
  SetTextColor(dc, skin::kGroupTitle);
  const std::wstring shown = L" " + title + L" ";
  TextOutW(dc, place.left + 8, place.top, shown.c_str(), static_cast<int>(shown.size()));
}

namespace {
constexpr wchar_t kRoleProperty[] = L"CalvoraRole";
}  // namespace

HFONT BoldFont(int pixels) {
  return CreateFontW(-pixels, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH,
                     L"Segoe UI");
}

Win32Notified* Win32Notified::Of(HWND control) {
  return control != nullptr ? static_cast<Win32Notified*>(GetPropW(control, kRoleProperty))
                            : nullptr;
}

void Win32Notified::Attach(HWND control) {
  SetPropW(control, kRoleProperty, this);
}

Win32Label::Win32Label(HWND parent, int id, const RECT& place, const std::string& text, Color color,
                       DWORD alignment)
    : handle_(CreateChild(parent, L"STATIC", alignment | SS_CENTERIMAGE | SS_NOTIFY, id, place)),
      color_(color) {
  SetText(text);
  Attach(handle_);
}

void Win32Label::Command(UINT code) {
  if (code == STN_CLICKED && OnClick)
    OnClick();
  if (code == STN_DBLCLK && OnDoubleClick)
    OnDoubleClick();
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
  Attach(handle_);
}

void Win32Button::Command(UINT code) {
  if (code == BN_CLICKED)
    Click();
}

Win32SpeedButton::Win32SpeedButton(HWND parent, int id, const RECT& place, const wchar_t* caption)
    : Win32Control(CreateChild(parent, L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP, id, place), place) {
  SetWindowTextW(handle_, caption);
  Attach(handle_);
}

void Win32SpeedButton::Command(UINT code) {
  if (code == BN_CLICKED)
    Click();
}

Win32CheckBox::Win32CheckBox(HWND parent, int id, const RECT& place, const std::string& caption)
    : handle_(CreateChild(parent, L"BUTTON", BS_AUTOCHECKBOX | WS_TABSTOP, id, place)) {
  SetWindowTextW(handle_, Widen(caption).c_str());
  Attach(handle_);
}

void Win32CheckBox::SetChecked(bool checked) {
  SendMessageW(handle_, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool Win32CheckBox::Checked() const {
  return SendMessageW(handle_, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void Win32CheckBox::Command(UINT code) {
  if (code == BN_CLICKED && OnClick)
    OnClick();
}

namespace {
// The caption box on a group's frame: as wide as its text in the font and the box need.
RECT CaptionPlace(HWND box, const RECT& group, const std::wstring& caption, HGDIOBJ font) {
  SIZE text{};
  const HDC dc = GetDC(box);
  const HGDIOBJ previous = SelectObject(dc, font);
  GetTextExtentPoint32W(dc, caption.c_str(), static_cast<int>(caption.size()), &text);
  SelectObject(dc, previous);
  ReleaseDC(box, dc);
  const int width = text.cx + 24;
  return {group.left + 8, group.top, group.left + 8 + width, group.top + 14};
}
}  // namespace

Win32CheckGroup::Win32CheckGroup(HWND parent, int id, const RECT& place, const std::string& caption)
    : place_(place) {
  handle_ = CreateChild(parent, L"BUTTON", BS_AUTOCHECKBOX | WS_TABSTOP, id, place);
  SetWindowTextW(handle_, Widen(caption).c_str());
  SetTitleFont(GetStockObject(DEFAULT_GUI_FONT));
  Attach(handle_);
}

void Win32CheckGroup::SetTitleFont(HGDIOBJ font) {
  SendMessageW(handle_, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(handle_)) + 1, L'\0');
  text.resize(
      static_cast<size_t>(GetWindowTextW(handle_, text.data(), static_cast<int>(text.size()))));
  const RECT box = CaptionPlace(handle_, place_, text, font);
  SetWindowPos(handle_, nullptr, box.left, box.top, box.right - box.left, box.bottom - box.top,
               SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32CheckGroup::SetChecked(bool checked) {
  SendMessageW(handle_, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
  EnableMembers();
}

bool Win32CheckGroup::Checked() const {
  return SendMessageW(handle_, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void Win32CheckGroup::Command(UINT code) {
  if (code != BN_CLICKED)
    return;
  EnableMembers();
  if (OnClick)
    OnClick();
}

void Win32CheckGroup::Add(HWND control) {
  members_.push_back(control);
  EnableWindow(control, Checked());
}

void Win32CheckGroup::EnableMembers() const {
  const bool enabled = Checked();
  for (const HWND member : members_)
    EnableWindow(member, enabled);
}

Win32DropDownList::Win32DropDownList(HWND parent, int id, const RECT& place)
    : Win32Control(
          CreateChild(parent, L"COMBOBOX", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, id, place),
          place) {
  Attach(handle_);
}

void Win32DropDownList::SetItems(const std::vector<std::string>& items) {
  items_ = items;
  SendMessageW(handle_, CB_RESETCONTENT, 0, 0);
  for (const std::string& item : items_)
    SendMessageW(handle_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(item).c_str()));
  SendMessageW(handle_, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
}

std::string Win32DropDownList::Item(int index) const {
  return index >= 0 && index < Count() ? items_[static_cast<size_t>(index)] : std::string();
}

int Win32DropDownList::ItemIndex() const {
  const auto index = static_cast<int>(SendMessageW(handle_, CB_GETCURSEL, 0, 0));
  return index >= 0 && index < Count() ? index : -1;
}

void Win32DropDownList::ShowSelection(int index) {
  SendMessageW(handle_, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void Win32DropDownList::Command(UINT code) {
  switch (code) {
    case CBN_DROPDOWN:
      dropped_ = true;
      selectionAtDrop_ = ItemIndex();
      closedWith_ = kNone;
      break;
    case CBN_SELCHANGE: {
      // While the list is dropped the highlight follows the user; the choice counts when
      // the list closes with it. The change reported after the list closed is that choice.
      if (dropped_)
        break;
      const bool echo = ItemIndex() == closedWith_;
      closedWith_ = kNone;
      if (!echo)
        Select(ItemIndex());
      break;
    }
    case CBN_SELENDOK:
      if (dropped_)
        CloseWith(true);
      break;
    case CBN_SELENDCANCEL:
    case CBN_CLOSEUP:
      // A list closed without a choice may still show another item than before.
      if (dropped_)
        CloseWith(ItemIndex() != selectionAtDrop_);
      break;
    default:
      break;
  }
}

void Win32DropDownList::CloseWith(bool chosen) {
  dropped_ = false;
  if (!chosen)
    return;
  closedWith_ = ItemIndex();
  Select(closedWith_);
}

Win32Slider::Win32Slider(HWND parent, int id, const RECT& place, int minimum, int maximum, int step,
                         int position)
    : Win32Control(
          CreateChild(parent, TRACKBAR_CLASSW, TBS_HORZ | TBS_NOTICKS | WS_TABSTOP, id, place),
          place),
      minimum_(minimum),
      maximum_(maximum),
      shown_(std::clamp(position, minimum, maximum)) {
  SendMessageW(handle_, TBM_SETRANGEMIN, FALSE, minimum_);
  SendMessageW(handle_, TBM_SETRANGEMAX, FALSE, maximum_);
  SendMessageW(handle_, TBM_SETLINESIZE, 0, step);
  SendMessageW(handle_, TBM_SETPAGESIZE, 0, step);
  SendMessageW(handle_, TBM_SETPOS, TRUE, shown_);
  Attach(handle_);
}

int Win32Slider::Position() const {
  return static_cast<int>(SendMessageW(handle_, TBM_GETPOS, 0, 0));
}

void Win32Slider::ShowPosition(int value) {
  shown_ = value;
  SendMessageW(handle_, TBM_SETPOS, TRUE, value);
}

void Win32Slider::Scrolled() {
  const int position = Position();
  if (position == shown_)
    return;
  shown_ = position;
  if (OnChange)
    OnChange();
}

namespace {
constexpr int kUpDownWidth = 16;
}  // namespace

Win32SpinEdit::Win32SpinEdit(HWND parent, int id, const RECT& place, double minimum, double maximum,
                             int decimals, double value)
    : edit_(CreateChild(parent, L"EDIT", ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, id,
                        {place.left, place.top, place.right - kUpDownWidth, place.bottom})),
      upDown_(CreateChild(parent, UPDOWN_CLASSW, UDS_ARROWKEYS | UDS_NOTHOUSANDS, id + 1,
                          {place.right - kUpDownWidth, place.top, place.right, place.bottom})),
      minimum_(minimum),
      maximum_(maximum),
      decimals_(decimals),
      value_(std::clamp(value, minimum, maximum)) {
  // The up-down keeps position 0 in a range around it: every arrow comes as UDN_DELTAPOS,
  // which steps this field's own value and refuses the up-down's move.
  SendMessageW(upDown_, UDM_SETRANGE32, static_cast<WPARAM>(-1), 1);
  SendMessageW(upDown_, UDM_SETPOS32, 0, 0);
  // The field is the up-down's buddy so the arrow keys in it step the value too.
  SendMessageW(upDown_, UDM_SETBUDDY, reinterpret_cast<WPARAM>(edit_), 0);
  Attach(edit_);
  Attach(upDown_);
  ShowText();
}

void Win32SpinEdit::ShowValue(double value) {
  value_ = value;
  ShowText();
}

void Win32SpinEdit::ShowText() {
  wchar_t text[64];
  std::swprintf(text, std::size(text), L"%.*f", decimals_, value_);
  showing_ = true;
  SetWindowTextW(edit_, text);
  showing_ = false;
}

void Win32SpinEdit::Command(UINT code) {
  if (code == EN_KILLFOCUS) {
    ShowText();
    return;
  }
  if (code != EN_CHANGE || showing_)
    return;
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(edit_)) + 1, L'\0');
  text.resize(
      static_cast<size_t>(GetWindowTextW(edit_, text.data(), static_cast<int>(text.size()))));
  wchar_t* end = nullptr;
  const double typed = std::wcstod(text.c_str(), &end);
  if (end == text.c_str() || *end != L'\0' || !std::isfinite(typed))
    return;  // not a number (yet): the value stays
  const double scale = std::pow(10.0, decimals_);
  value_ = std::clamp(std::round(typed * scale) / scale, minimum_, maximum_);
}

bool Win32SpinEdit::Notify(const NMHDR& header, LRESULT& result) {
  if (header.hwndFrom != upDown_ || header.code != UDN_DELTAPOS)
    return false;
  const auto& delta = reinterpret_cast<const NMUPDOWN&>(header);
  SetValue(value_ + delta.iDelta);
  result = TRUE;  // the up-down itself stays at 0
  return true;
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
  for (HICON image : images_)
    if (image != nullptr)
      DestroyIcon(image);
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

void Win32TrayIcon::ShellRestarted() {
  if (visible_)
    Update(NIM_ADD);
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
