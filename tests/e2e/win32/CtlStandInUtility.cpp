#include "CtlStandInUtility.h"

#include "link/WinMSG.h"

namespace calvora::e2e {

namespace {

constexpr UINT kCommandMessage = 2102;
constexpr UINT kReplyTimeoutMs = 1000;

HWND ToHwnd(uint32_t handle) {
  return reinterpret_cast<HWND>(static_cast<uintptr_t>(handle));
}

}  // namespace

CtlStandInUtility::CtlStandInUtility(int16_t programId, Behaviour behaviour)
    : programId_(programId) {
  release_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::unique_lock lock(mutex_);
  thread_ = std::thread([this, behaviour] { Serve(behaviour); });
  // A busy desktop may take seconds for a new window; a test given no window fails on handle 0.
  changed_.wait_for(lock, std::chrono::seconds(30), [this] { return threadId_ != 0; });
}

CtlStandInUtility::~CtlStandInUtility() {
  SetEvent(release_);
  {
    // The window may still be on its way; it is closed once it is there, or the thread has
    // already ended for want of one.
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return threadId_ != 0; });
    if (handle_ != 0)
      PostMessageW(ToHwnd(handle_), WM_CLOSE, 0, 0);
  }
  thread_.join();
  CloseHandle(release_);
}

void CtlStandInUtility::Serve(Behaviour behaviour) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = &CtlStandInUtility::WindowProcedure;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"TCV_AudioMixer";
  RegisterClassExW(&windowClass);  // once per process; later calls fail harmlessly
  const HWND window =
      CreateWindowExW(0, L"TCV_AudioMixer", L"Calvora Audio Mixer stand-in", WS_OVERLAPPEDWINDOW, 0,
                      0, 100, 100, nullptr, nullptr, windowClass.hInstance, this);
  {
    const std::lock_guard lock(mutex_);
    handle_ = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window));
    threadId_ = GetCurrentThreadId();
  }
  changed_.notify_all();
  if (window == nullptr)
    return;
  if (behaviour == Behaviour::kHung) {
    WaitForSingleObject(release_, INFINITE);  // takes no message until released
    DestroyWindow(window);
    return;
  }
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

LRESULT CALLBACK CtlStandInUtility::WindowProcedure(HWND window, UINT message, WPARAM wParam,
                                                    LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<CtlStandInUtility*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (message == kCommandMessage && self != nullptr)
    return self->OnCommand(wParam, lParam);
  if (message == WM_CLOSE) {
    DestroyWindow(window);
    return 0;
  }
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CtlStandInUtility::OnCommand(WPARAM wParam, LPARAM lParam) {
  uint16_t code = 0;
  uint16_t argument = 0;
  link::TWinMSG::DecodeCommand(static_cast<uint32_t>(lParam), code, argument);
  const auto from = static_cast<uint32_t>(wParam);
  {
    const std::lock_guard lock(mutex_);
    received_.push_back({code, argument, from});
    if (code == link::WINMSG_CONTROL && argument == link::CTRL_HELLO)
      peer_ = from;
    else if (code == link::WINMSG_CONTROL && argument != link::CTRL_IDENTIFY && from == peer_)
      peer_ = 0;
  }
  changed_.notify_all();
  return code == link::WINMSG_CONTROL && argument == link::CTRL_IDENTIFY ? programId_ : 0;
}

uint32_t CtlStandInUtility::Peer() const {
  const std::lock_guard lock(mutex_);
  return peer_;
}

std::vector<CtlStandInUtility::Received> CtlStandInUtility::ReceivedSoFar() const {
  const std::lock_guard lock(mutex_);
  return received_;
}

bool CtlStandInUtility::WaitFor(const std::function<bool(const Received&)>& match,
                                int timeoutMs) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
    for (const Received& r : received_)
      if (match(r))
        return true;
    return false;
  });
}

bool CtlStandInUtility::WaitForCommand(uint16_t code, uint16_t argument, int timeoutMs) const {
  return WaitFor([&](const Received& r) { return r.code == code && r.argument == argument; },
                 timeoutMs);
}

uint32_t CtlStandInUtility::WaitForPeer(int timeoutMs) const {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return peer_ != 0; });
  return peer_;
}

bool CtlStandInUtility::Notify(uint16_t code, uint16_t argument) const {
  DWORD_PTR answer = 0;
  return SendMessageTimeoutW(ToHwnd(Peer()), kCommandMessage, handle_,
                             static_cast<LPARAM>(link::TWinMSG::EncodeCommand(code, argument)),
                             SMTO_NORMAL, kReplyTimeoutMs, &answer) != 0;
}

bool CtlStandInUtility::SendAudioBlock(int32_t rate, uint8_t channels, double left, double right,
                                       std::size_t bytes) const {
  link::AudioBlockHeader header;
  header.SampleRate = rate;
  header.Channels = channels;
  header.LeftLevel = left;
  header.RightLevel = right;
  const std::vector<uint8_t> samples(bytes, 0);
  return SendData(0, header.Pack(samples));
}

bool CtlStandInUtility::SendData(uint32_t kind, std::span<const uint8_t> bytes) const {
  COPYDATASTRUCT data{};
  data.dwData = kind;
  data.cbData = static_cast<DWORD>(bytes.size());
  data.lpData = const_cast<uint8_t*>(bytes.data());
  DWORD_PTR answer = 0;
  return SendMessageTimeoutW(ToHwnd(Peer()), WM_COPYDATA, handle_, reinterpret_cast<LPARAM>(&data),
                             SMTO_NORMAL, kReplyTimeoutMs, &answer) != 0;
}

}  // namespace calvora::e2e
