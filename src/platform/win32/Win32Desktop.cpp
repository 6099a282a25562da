#include "platform/win32/Win32Desktop.h"

#include <windows.h>
// The seam's method names, not the macros that pick the W or A function.
#undef SendMessage
#undef PostMessage

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>

#include "platform/win32/WideText.h"

namespace calvora::platform::win32 {

namespace {

constexpr UINT_PTR kWatchTimer = 1;
constexpr UINT kWatchTimerMs = 100;

HWND ToHwnd(WindowHandle handle) {
  return reinterpret_cast<HWND>(static_cast<uintptr_t>(handle));
}

// Window handles fit in 32 bits on 64-bit Windows, so that 32-bit programs can share them.
WindowHandle ToHandle(HWND window) {
  return static_cast<WindowHandle>(reinterpret_cast<uintptr_t>(window));
}

// The desktop that is waiting for each watched post's answer. The answer arrives on the
// desktop's own thread, but may arrive after the desktop is gone.
std::mutex watchersLock;
std::map<uint64_t, Win32Desktop*> watchers;
std::atomic<uint64_t> nextWatchId{1};

void CALLBACK OnAnswered(HWND, UINT, ULONG_PTR watchId, LRESULT) {
  Win32Desktop* desktop = nullptr;
  {
    const std::lock_guard<std::mutex> lock(watchersLock);
    const auto it = watchers.find(watchId);
    if (it == watchers.end())
      return;
    desktop = it->second;
    watchers.erase(it);
  }
  desktop->Answered(watchId);
}

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* desktop = reinterpret_cast<Win32Desktop*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (desktop != nullptr && (message == WM_COPYDATA || message == WM_TIMER || message >= WM_USER))
    return desktop->HandleWindowMessage(message, wParam, lParam);
  return DefWindowProcW(window, message, wParam, lParam);
}

SendResult Failed(DWORD error) {
  switch (error) {
    case ERROR_TIMEOUT:
      return {result::kTimeout, 0};
    case ERROR_INVALID_WINDOW_HANDLE:
      return {result::kInvalidHandle, 0};
    case ERROR_MESSAGE_SYNC_ONLY:
      return {result::kNotSupported, 0};
    default:
      return {result::kError, 0};
  }
}

SendResult SendWithTimeout(WindowHandle target, UINT message, WPARAM wParam, LPARAM lParam) {
  if (target == 0 || !IsWindow(ToHwnd(target)))
    return {result::kInvalidHandle, 0};
  DWORD_PTR answer = 0;
  SetLastError(ERROR_SUCCESS);
  if (SendMessageTimeoutW(ToHwnd(target), message, wParam, lParam, SMTO_NORMAL,
                          Desktop::kReplyTimeoutMs, &answer) == 0) {
    const DWORD error = GetLastError();
    return Failed(error == ERROR_SUCCESS ? ERROR_TIMEOUT : error);
  }
  return {result::kOk, static_cast<int32_t>(answer)};
}

}  // namespace

Win32Desktop::Win32Desktop(std::string_view className) : className_(Widen(className)) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = &WindowProcedure;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = className_.c_str();
  RegisterClassExW(&windowClass);  // fails harmlessly when the class is registered already
  const HWND window = CreateWindowExW(0, className_.c_str(), L"", WS_OVERLAPPEDWINDOW, 0, 0, 0, 0,
                                      nullptr, nullptr, windowClass.hInstance, this);
  ownWindow_ = ToHandle(window);
}

Win32Desktop::~Win32Desktop() {
  {
    const std::lock_guard<std::mutex> lock(watchersLock);
    for (const Watch& watch : watches_)
      watchers.erase(watch.id);
  }
  if (ownWindow_ != 0) {
    SetWindowLongPtrW(ToHwnd(ownWindow_), GWLP_USERDATA, 0);
    DestroyWindow(ToHwnd(ownWindow_));
  }
}

std::vector<WindowInfo> Win32Desktop::EnumWindows() {
  std::vector<WindowInfo> windows;
  ::EnumWindows(
      [](HWND window, LPARAM found) -> BOOL {
        wchar_t name[257] = {};
        const int length = GetClassNameW(window, name, static_cast<int>(std::size(name)));
        reinterpret_cast<std::vector<WindowInfo>*>(found)->push_back(
            {ToHandle(window), Narrow(std::wstring_view(name, static_cast<size_t>(length)))});
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&windows));
  return windows;
}

SendResult Win32Desktop::SendMessage(WindowHandle target, uint32_t message, uint32_t wParam,
                                     uint32_t lParam) {
  return SendWithTimeout(target, message, wParam, static_cast<LPARAM>(lParam));
}

SendResult Win32Desktop::SendData(WindowHandle target, uint32_t wParam, uint32_t kind,
                                  std::span<const uint8_t> bytes) {
  COPYDATASTRUCT data{};
  data.dwData = kind;
  data.cbData = static_cast<DWORD>(bytes.size());
  data.lpData = const_cast<uint8_t*>(bytes.data());
  return SendWithTimeout(target, WM_COPYDATA, wParam, reinterpret_cast<LPARAM>(&data));
}

Result Win32Desktop::PostMessage(WindowHandle target, uint32_t message, uint32_t wParam,
                                 uint32_t lParam, Answer answer) {
  if (target == 0)
    return result::kInvalidHandle;
  const uint64_t id = answer == Answer::kWatch ? nextWatchId++ : 0;
  if (id != 0) {
    const std::lock_guard<std::mutex> lock(watchersLock);
    watchers[id] = this;
  }
  if (!SendMessageCallbackW(ToHwnd(target), message, wParam, static_cast<LPARAM>(lParam),
                            id != 0 ? &OnAnswered : nullptr, static_cast<ULONG_PTR>(id))) {
    const std::lock_guard<std::mutex> lock(watchersLock);
    watchers.erase(id);
    return result::kInvalidHandle;
  }
  if (id != 0)
    StartWatch(target, id);
  return result::kOk;
}

Result Win32Desktop::PostData(WindowHandle target, uint32_t wParam, uint32_t kind,
                              std::span<const uint8_t> bytes, Answer answer) {
  if (target == 0)
    return result::kInvalidHandle;
  const SendResult sent = SendData(target, wParam, kind, bytes);
  if (sent.status == result::kTimeout && answer == Answer::kWatch) {
    // Reported from the timer, never from inside the post.
    watches_.push_back({0, target, GetTickCount() - static_cast<uint32_t>(kReplyTimeoutMs) - 1});
    SetTimer(ToHwnd(ownWindow_), kWatchTimer, 0, nullptr);
  }
  return result::kOk;
}

void Win32Desktop::WaitAndProcess(int32_t timeoutMs) {
  // Messages sent by other programs are answered inside the wait and PeekMessage.
  MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(std::max(timeoutMs, 0)), QS_ALLINPUT,
                              MWMO_INPUTAVAILABLE);
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

void Win32Desktop::StartWatch(WindowHandle target, uint64_t id) {
  watches_.push_back({id, target, GetTickCount()});
  SetTimer(ToHwnd(ownWindow_), kWatchTimer, kWatchTimerMs, nullptr);
}

void Win32Desktop::Answered(uint64_t watchId) {
  std::erase_if(watches_, [watchId](const Watch& watch) { return watch.id == watchId; });
}

void Win32Desktop::CheckWatches() {
  const uint32_t now = GetTickCount();
  std::vector<WindowHandle> unanswered;
  std::erase_if(watches_, [&](const Watch& watch) {
    if (now - watch.sentAt <= static_cast<uint32_t>(kReplyTimeoutMs))
      return false;
    if (std::find(unanswered.begin(), unanswered.end(), watch.target) == unanswered.end())
      unanswered.push_back(watch.target);
    return true;
  });
  {
    const std::lock_guard<std::mutex> lock(watchersLock);
    for (auto it = watchers.begin(); it != watchers.end();) {
      const bool dropped = it->second == this &&
                           std::none_of(watches_.begin(), watches_.end(),
                                        [&](const Watch& watch) { return watch.id == it->first; });
      it = dropped ? watchers.erase(it) : std::next(it);
    }
  }
  if (watches_.empty())
    KillTimer(ToHwnd(ownWindow_), kWatchTimer);
  else
    SetTimer(ToHwnd(ownWindow_), kWatchTimer, kWatchTimerMs, nullptr);
  for (WindowHandle target : unanswered) {
    if (unansweredHandler_)
      unansweredHandler_(target);
  }
}

WindowHandle Win32Desktop::SenderNamedBy(uintptr_t wParam) const {
  const auto window = static_cast<WindowHandle>(wParam);
  return window != 0 && IsWindow(ToHwnd(window)) ? window : 0;
}

intptr_t Win32Desktop::HandleWindowMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (message == WM_TIMER) {
    if (wParam == kWatchTimer)
      CheckWatches();
    return 0;
  }
  const WindowHandle outerSender = messageSender_;
  messageSender_ = SenderNamedBy(wParam);
  int32_t answer = 0;
  if (message == WM_COPYDATA) {
    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    if (dataHandler_ && data != nullptr) {
      const IncomingData incoming{
          static_cast<uint32_t>(wParam), static_cast<uint32_t>(data->dwData),
          std::span<const uint8_t>(static_cast<const uint8_t*>(data->lpData), data->cbData)};
      answer = dataHandler_(incoming);
    }
  } else if (messageHandler_) {
    answer =
        messageHandler_({message, static_cast<uint32_t>(wParam), static_cast<uint32_t>(lParam)});
  }
  messageSender_ = outerSender;
  return answer;
}

}  // namespace calvora::platform::win32
