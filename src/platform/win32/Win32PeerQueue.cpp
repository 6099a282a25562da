#include "platform/win32/Win32PeerQueue.h"

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace calvora::platform::win32 {

namespace {

HWND ToHwnd(WindowHandle handle) {
  return reinterpret_cast<HWND>(static_cast<uintptr_t>(handle));
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

}  // namespace

SendResult SendAndWait(WindowHandle target, uint32_t message, uintptr_t wParam, intptr_t lParam,
                       uint32_t timeoutMs) {
  if (target == 0 || !IsWindow(ToHwnd(target)))
    return {result::kInvalidHandle, 0};
  DWORD_PTR answer = 0;
  SetLastError(ERROR_SUCCESS);
  if (SendMessageTimeoutW(ToHwnd(target), message, wParam, lParam, SMTO_NORMAL, timeoutMs,
                          &answer) == 0) {
    const DWORD error = GetLastError();
    return Failed(error == ERROR_SUCCESS ? ERROR_TIMEOUT : error);
  }
  return {result::kOk, static_cast<int32_t>(answer)};
}

SendResult SendDataAndWait(WindowHandle target, uintptr_t wParam, uint32_t kind,
                           std::span<const uint8_t> bytes, uint32_t timeoutMs) {
  COPYDATASTRUCT data{};
  data.dwData = kind;
  data.cbData = static_cast<DWORD>(bytes.size());
  data.lpData = const_cast<uint8_t*>(bytes.data());
  return SendAndWait(target, WM_COPYDATA, wParam, reinterpret_cast<LPARAM>(&data), timeoutMs);
}

// Shared with the thread, which may outlive the queue while it waits for a hung window.
struct Win32PeerQueue::State {
  WindowHandle target = 0;
  uint32_t giveUpMs = 0;
  mutable std::mutex lock;
  std::condition_variable wake;
  std::deque<Message> messages;
  std::deque<uint32_t> queuedAt;  // the tick count each message was queued at
  bool sending = false;
  uint32_t sendingQueuedAt = 0;
  bool stop = false;
  bool finished = false;   // the thread has handed over what it could and ended
  bool takenOver = false;  // HandOverNow took what was queued from the thread
  bool givenUp = false;    // given up since the last TakeGivenUp
  bool silenced = false;   // given up: takes no more messages
  bool gone = false;
};

Win32PeerQueue::Win32PeerQueue(WindowHandle target, uint32_t giveUpMs)
    : state_(std::make_shared<State>()) {
  state_->target = target;
  state_->giveUpMs = giveUpMs;
  thread_ = std::thread([state = state_] { Run(state); });
}

Win32PeerQueue::~Win32PeerQueue() {
  Stop();
  std::unique_lock<std::mutex> guard(state_->lock);
  // A window that answers lets the thread end at once; one that is busy is not waited for.
  const bool finished =
      state_->wake.wait_for(guard, std::chrono::milliseconds(kFinishWaitMs),
                            [this] { return state_->finished || state_->takenOver; }) &&
      state_->finished;
  guard.unlock();
  if (finished) {
    thread_.join();
    return;
  }
  HandOverNow();
  thread_.detach();  // it ends when the window answers or the give-up time is out
}

void Win32PeerQueue::Stop() {
  const std::lock_guard<std::mutex> guard(state_->lock);
  state_->stop = true;
  state_->wake.notify_all();
}

bool Win32PeerQueue::Finished() const {
  const std::lock_guard<std::mutex> guard(state_->lock);
  return state_->finished;
}

void Win32PeerQueue::HandOverNow() {
  std::deque<Message> rest;
  {
    const std::lock_guard<std::mutex> guard(state_->lock);
    rest.swap(state_->messages);
    state_->queuedAt.clear();
    state_->takenOver = true;
  }
  HandOver(*state_, rest);
}

void Win32PeerQueue::Push(Message message) {
  {
    const std::lock_guard<std::mutex> guard(state_->lock);
    if (state_->stop || state_->silenced)
      return;
    state_->messages.push_back(std::move(message));
    state_->queuedAt.push_back(GetTickCount());
  }
  state_->wake.notify_one();
}

bool Win32PeerQueue::WaitingSince(uint32_t limitMs) const {
  const std::lock_guard<std::mutex> guard(state_->lock);
  if (state_->silenced)
    return true;
  uint32_t oldest = 0;
  if (state_->sending)
    oldest = state_->sendingQueuedAt;
  else if (!state_->queuedAt.empty())
    oldest = state_->queuedAt.front();
  else
    return false;
  return GetTickCount() - oldest >= limitMs;
}

bool Win32PeerQueue::Idle() const {
  const std::lock_guard<std::mutex> guard(state_->lock);
  return !state_->sending && state_->messages.empty();
}

bool Win32PeerQueue::TakeGivenUp() {
  const std::lock_guard<std::mutex> guard(state_->lock);
  const bool givenUp = state_->givenUp;
  state_->givenUp = false;
  return givenUp;
}

bool Win32PeerQueue::Gone() const {
  const std::lock_guard<std::mutex> guard(state_->lock);
  return state_->gone;
}

void Win32PeerQueue::Run(const std::shared_ptr<State>& state) {
  for (;;) {
    Message message;
    {
      std::unique_lock<std::mutex> guard(state->lock);
      state->wake.wait(guard, [&] { return state->stop || !state->messages.empty(); });
      if (state->stop) {
        std::deque<Message> rest;
        rest.swap(state->messages);
        guard.unlock();
        HandOver(*state, rest);
        guard.lock();
        state->finished = true;
        state->wake.notify_all();
        return;
      }
      message = std::move(state->messages.front());
      state->messages.pop_front();
      state->sendingQueuedAt = state->queuedAt.front();
      state->queuedAt.pop_front();
      state->sending = true;
    }
    Result status = result::kOk;
    if (!message.awaitAnswer && !message.data) {
      status = Notify(state->target, message);
    } else if (message.data) {
      status = SendDataAndWait(state->target, message.wParam, message.lParam, message.bytes,
                               state->giveUpMs)
                   .status;
    } else {
      status = SendAndWait(state->target, message.message, message.wParam,
                           static_cast<LPARAM>(message.lParam), state->giveUpMs)
                   .status;
    }
    const std::lock_guard<std::mutex> guard(state->lock);
    state->sending = false;
    // Neither a window that is gone nor one given up gets what waits for it. A window given
    // up gets nothing more from this queue either: whatever comes before it is told goodbye
    // would reach it first, and every later time-out would drop the goodbye too.
    if (status == result::kInvalidHandle || status == result::kTimeout) {
      state->messages.clear();
      state->queuedAt.clear();
      (status == result::kTimeout ? state->givenUp : state->gone) = true;
      state->silenced = state->silenced || status == result::kTimeout;
    }
  }
}

Result Win32PeerQueue::Notify(WindowHandle target, const Message& message) {
  if (SendNotifyMessageW(ToHwnd(target), message.message, message.wParam,
                         static_cast<LPARAM>(message.lParam)))
    return result::kOk;
  return IsWindow(ToHwnd(target)) ? result::kError : result::kInvalidHandle;
}

void Win32PeerQueue::HandOver(const State& state, const std::deque<Message>& rest) {
  // At the end the window messages still queued, a goodbye above all, are handed over
  // without waiting; data cannot travel that way and is left out.
  for (const Message& message : rest)
    if (!message.data)
      Notify(state.target, message);
}

}  // namespace calvora::platform::win32
