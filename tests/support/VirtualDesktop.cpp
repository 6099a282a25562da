#include "VirtualDesktop.h"

namespace calvora::testing {

VirtualDesktop::VirtualDesktop(platform::WindowHandle ownWindow, std::string ownClass)
    : ownWindow_(ownWindow) {
  if (ownWindow != 0)
    windows_[ownWindow] = Window{std::move(ownClass)};
}

void VirtualDesktop::AddWindow(platform::WindowHandle handle, std::string className) {
  windows_[handle] = Window{std::move(className)};
}

void VirtualDesktop::RemoveWindow(platform::WindowHandle handle) {
  windows_.erase(handle);
}

void VirtualDesktop::SetHung(platform::WindowHandle handle, bool hung) {
  // Only a listed window can hang; hanging an unknown handle must not list it.
  const auto window = windows_.find(handle);
  if (window != windows_.end())
    window->second.hung = hung;
}

void VirtualDesktop::SetBehind(platform::WindowHandle handle, bool behind) {
  const auto window = windows_.find(handle);
  if (window != windows_.end())
    window->second.behind = behind;
}

bool VirtualDesktop::Behind(platform::WindowHandle target) const {
  const auto window = windows_.find(target);
  return window != windows_.end() && window->second.behind;
}

int32_t VirtualDesktop::Deliver(uint32_t message, uint32_t wParam, uint32_t lParam) {
  return DeliverFrom(wParam, message, wParam, lParam);
}

int32_t VirtualDesktop::DeliverFrom(platform::WindowHandle sender, uint32_t message,
                                    uint32_t wParam, uint32_t lParam) {
  const platform::WindowHandle outer = sender_;
  sender_ = sender;
  const int32_t answer =
      handler_ ? handler_(platform::IncomingMessage{message, wParam, lParam}) : 0;
  sender_ = outer;
  return answer;
}

void VirtualDesktop::ExpireUnanswered() {
  std::vector<platform::WindowHandle> reports;
  for (auto& [handle, window] : windows_) {
    if (window.unanswered)
      reports.push_back(handle);
    window.unanswered = false;
  }
  for (platform::WindowHandle handle : reports)
    if (unansweredHandler_)
      unansweredHandler_(handle);
}

std::vector<platform::WindowHandle> VirtualDesktop::TargetsOf(uint32_t lParam) const {
  std::vector<platform::WindowHandle> targets;
  for (const Sent& s : sent)
    if (!s.data && s.lParam == lParam)
      targets.push_back(s.target);
  return targets;
}

std::vector<platform::WindowInfo> VirtualDesktop::EnumWindows() {
  ++enumCount;
  if (onEnumWindows)
    onEnumWindows();
  std::vector<platform::WindowInfo> list;
  for (const auto& [handle, window] : windows_)
    list.push_back({handle, window.className});
  return list;
}

platform::SendResult VirtualDesktop::Route(Sent s) {
  sent.push_back(s);
  const auto window = windows_.find(s.target);
  if (window == windows_.end())
    return {platform::result::kInvalidHandle, 0};
  if (window->second.hung)
    return {platform::result::kTimeout, 0};
  return {platform::result::kOk, onSend ? onSend(s) : 0};
}

platform::Result VirtualDesktop::Post(Sent s) {
  if (s.target == 0)
    return platform::result::kInvalidHandle;
  s.posted = true;
  const auto window = windows_.find(s.target);
  if (window != windows_.end() && window->second.hung && s.answer == Answer::kWatch)
    window->second.unanswered = true;
  Route(std::move(s));  // the answer is not read
  return platform::result::kOk;
}

platform::Result VirtualDesktop::PostMessage(platform::WindowHandle target, uint32_t message,
                                             uint32_t wParam, uint32_t lParam, Answer answer) {
  return Post(Sent{target, false, message, wParam, lParam, {}, true, answer});
}

platform::Result VirtualDesktop::PostData(platform::WindowHandle target, uint32_t wParam,
                                          uint32_t kind, std::span<const uint8_t> bytes,
                                          Answer answer) {
  return Post(Sent{target, true, 0x004A, wParam, kind, {bytes.begin(), bytes.end()}, true, answer});
}

platform::SendResult VirtualDesktop::SendMessage(platform::WindowHandle target, uint32_t message,
                                                 uint32_t wParam, uint32_t lParam) {
  return Route(Sent{target, false, message, wParam, lParam, {}});
}

platform::SendResult VirtualDesktop::SendData(platform::WindowHandle target, uint32_t wParam,
                                              uint32_t kind, std::span<const uint8_t> bytes) {
  return Route(Sent{target, true, 0x004A, wParam, kind, {bytes.begin(), bytes.end()}});
}

}  // namespace calvora::testing
