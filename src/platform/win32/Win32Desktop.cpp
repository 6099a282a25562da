#include "platform/win32/Win32Desktop.h"

#include <windows.h>
// The seam's method names, not the macros that pick the W or A function.
#undef SendMessage
#undef PostMessage

#include <algorithm>
#include <vector>

#include "platform/win32/WideText.h"

namespace calvora::platform::win32 {

namespace {

constexpr UINT_PTR kQueueTimer = 1;
constexpr UINT kQueueTimerMs = 100;

HWND ToHwnd(WindowHandle handle) {
  return reinterpret_cast<HWND>(static_cast<uintptr_t>(handle));
}

// Window handles fit in 32 bits on 64-bit Windows, so that 32-bit programs can share them.
WindowHandle ToHandle(HWND window) {
  return static_cast<WindowHandle>(reinterpret_cast<uintptr_t>(window));
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

}  // namespace

Win32Desktop::Win32Desktop(std::string_view className)
    : className_(Widen(className)), giveUpMs_(static_cast<uint32_t>(GiveUpMs())) {
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
  // What comes in while the posts are handed over is answered 0: the handlers' owners may be
  // gone already.
  messageHandler_ = nullptr;
  dataHandler_ = nullptr;
  unansweredHandler_ = nullptr;
  HandOverPosts();
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
  const uint32_t timeoutMs = WaitForPosts(target);
  if (timeoutMs == 0)
    return {result::kTimeout, 0};
  return SendAndWait(target, message, wParam, static_cast<LPARAM>(lParam), timeoutMs);
}

SendResult Win32Desktop::SendData(WindowHandle target, uint32_t wParam, uint32_t kind,
                                  std::span<const uint8_t> bytes) {
  const uint32_t timeoutMs = WaitForPosts(target);
  if (timeoutMs == 0)
    return {result::kTimeout, 0};
  return SendDataAndWait(target, wParam, kind, bytes, timeoutMs);
}

uint32_t Win32Desktop::WaitForPosts(WindowHandle target) {
  const auto queue = queues_.find(target);
  const uint32_t start = GetTickCount();
  const auto timeout = static_cast<uint32_t>(kReplyTimeoutMs);
  if (queue == queues_.end())
    return timeout;
  for (;;) {
    const uint32_t waited = GetTickCount() - start;
    if (queue->second->Idle())
      return timeout - waited;
    if (waited >= timeout)
      return 0;
    // Messages sent to this window are answered meanwhile, as inside SendMessageTimeout.
    AnswerSentMessages(5);
  }
}

void Win32Desktop::AnswerSentMessages(uint32_t waitMs) {
  MsgWaitForMultipleObjectsEx(0, nullptr, waitMs, QS_SENDMESSAGE, 0);
  MSG message;
  PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

void Win32Desktop::HandOverPosts() {
  // A thread hands over what is queued itself once its window has answered the message in
  // flight. One still waiting after a moment is inside the system's send, so what is handed
  // over from here reaches the window after that message. The moment is one for all threads:
  // closing waits it once, however many windows are busy.
  for (const auto& [target, queue] : queues_)
    queue->Stop();
  const uint32_t start = GetTickCount();
  const auto allFinished = [this] {
    return std::all_of(queues_.begin(), queues_.end(),
                       [](const auto& entry) { return entry.second->Finished(); });
  };
  while (!allFinished() && GetTickCount() - start < Win32PeerQueue::kFinishWaitMs)
    AnswerSentMessages(5);
  // The system keeps what is handed over in the busy window's message queue until the window
  // answers, also after this program has ended.
  for (const auto& [target, queue] : queues_)
    if (!queue->Finished())
      queue->HandOverNow();
  queues_.clear();
  if (ownWindow_ != 0)
    KillTimer(ToHwnd(ownWindow_), kQueueTimer);
}

void Win32Desktop::Queue(WindowHandle target, Win32PeerQueue::Message message) {
  auto& queue = queues_[target];
  if (!queue) {
    queue = std::make_unique<Win32PeerQueue>(target, giveUpMs_);
    SetTimer(ToHwnd(ownWindow_), kQueueTimer, kQueueTimerMs, nullptr);
  }
  queue->Push(std::move(message));
}

Result Win32Desktop::PostMessage(WindowHandle target, uint32_t message, uint32_t wParam,
                                 uint32_t lParam, Answer answer) {
  if (target == 0 || !IsWindow(ToHwnd(target)))
    return result::kInvalidHandle;
  Queue(target, {message, wParam, lParam, false, {}, answer == Answer::kWatch});
  return result::kOk;
}

Result Win32Desktop::PostData(WindowHandle target, uint32_t wParam, uint32_t kind,
                              std::span<const uint8_t> bytes, Answer answer) {
  if (target == 0 || !IsWindow(ToHwnd(target)))
    return result::kInvalidHandle;
  Queue(target,
        {WM_COPYDATA, wParam, kind, true, {bytes.begin(), bytes.end()}, answer == Answer::kWatch});
  return result::kOk;
}

bool Win32Desktop::Behind(WindowHandle target) const {
  const auto queue = queues_.find(target);
  return queue != queues_.end() &&
         queue->second->WaitingSince(static_cast<uint32_t>(kReplyTimeoutMs));
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

void Win32Desktop::CheckQueues() {
  std::vector<WindowHandle> givenUp;
  for (auto it = queues_.begin(); it != queues_.end();) {
    // A window given up is let go with its queue, which takes nothing more: what is posted
    // to it after the report goes by a fresh queue and reaches it as the next message.
    if (it->second->TakeGivenUp()) {
      givenUp.push_back(it->first);
      it = queues_.erase(it);
      continue;
    }
    const bool gone = it->second->Gone() || (!IsWindow(ToHwnd(it->first)) && it->second->Idle());
    it = gone ? queues_.erase(it) : std::next(it);
  }
  if (queues_.empty())
    KillTimer(ToHwnd(ownWindow_), kQueueTimer);
  for (WindowHandle target : givenUp) {
    const UnansweredHandler handler = unansweredHandler_;  // it may replace itself
    if (handler)
      handler(target);
  }
}

WindowHandle Win32Desktop::SenderNamedBy(uintptr_t wParam) const {
  const auto window = static_cast<WindowHandle>(wParam);
  return window != 0 && IsWindow(ToHwnd(window)) ? window : 0;
}

intptr_t Win32Desktop::HandleWindowMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (message == WM_TIMER) {
    if (wParam == kQueueTimer)
      CheckQueues();
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
