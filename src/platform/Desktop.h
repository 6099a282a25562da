#pragma once
// The desktop as one program's window sees it: the top-level windows with their class
// names, synchronous messages to another window, and the messages sent to this one.
// A send waits for the answer, and while it waits the program keeps answering messages
// sent to its own window, so two programs that send to each other at once both get through.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "platform/Result.h"

namespace calvora::platform {

// A top-level window. 0 stands for "no window".
using WindowHandle = uint32_t;

struct WindowInfo {
  WindowHandle handle = 0;
  std::string className;
};

// What a send came back with: status kOk and the receiver's answer; or answer 0 with
// kInvalidHandle (the window no longer exists), kTimeout (no answer in time),
// kNotSupported (the window does not take this kind of message), kNotEnabled (there is no
// desktop to send through: no session bus, or its connection was lost), kNoMemory (the
// message could not be built) or kError.
struct SendResult {
  Result status = result::kOk;
  int32_t answer = 0;
};

// A message to this program's window: a window message with its two parameters.
struct IncomingMessage {
  uint32_t message = 0;
  uint32_t wParam = 0;
  uint32_t lParam = 0;
};

// A data message to this program's window. The bytes are valid only during the call.
struct IncomingData {
  uint32_t wParam = 0;
  uint32_t kind = 0;
  std::span<const uint8_t> bytes;
};

class Desktop {
 public:
  // The handler returns the answer to send back; an unset handler answers 0.
  using MessageHandler = std::function<int32_t(const IncomingMessage&)>;
  using DataHandler = std::function<int32_t(const IncomingData&)>;
  // Told of a window that has answered none of its posts for GiveUpMs(): it is hung for good.
  // A window that is only busy for a while, however long, is never reported before that.
  using UnansweredHandler = std::function<void(WindowHandle)>;

  // Whether a posted message asks for an answer. Only an asked-for answer can be missed,
  // so only such a post can show its window behind or report it as unanswering.
  enum class Answer { kWatch, kNone };

  // How long a send waits for its answer before it gives up with kTimeout; also how long a
  // post may wait for its answer before its window counts as behind.
  static constexpr int32_t kReplyTimeoutMs = 1000;
  // How long a window may answer nothing before it is reported as unanswering.
  static constexpr int32_t kGiveUpMs = 30000;

  // kGiveUpMs, or the milliseconds in CALVORA_TEST_GIVE_UP_MS: tests shorten the long wait
  // with it rather than wait half a minute.
  static int32_t GiveUpMs() {
    const char* value = std::getenv("CALVORA_TEST_GIVE_UP_MS");
    const long ms = value ? std::strtol(value, nullptr, 10) : 0;
    return ms > 0 && ms <= kGiveUpMs ? static_cast<int32_t>(ms) : kGiveUpMs;
  }

  virtual ~Desktop() = default;

  // This program's own window, or 0 when it has none (no desktop to register with).
  virtual WindowHandle OwnWindow() const = 0;

  // Every top-level window with its class name, in no particular order.
  virtual std::vector<WindowInfo> EnumWindows() = 0;

  // Sends a window message and waits for the answer.
  virtual SendResult SendMessage(WindowHandle target, uint32_t message, uint32_t wParam,
                                 uint32_t lParam) = 0;

  // Sends a data message (the bytes and a kind number) and waits for the answer.
  virtual SendResult SendData(WindowHandle target, uint32_t wParam, uint32_t kind,
                              std::span<const uint8_t> bytes) = 0;

  // Post: hands the message over and returns at once, never waiting for the window; the
  // answer is never read. Posts to one window arrive in the order they were given, however
  // late. With Answer::kWatch the window's answers are followed: one that has left a post
  // unanswered for kReplyTimeoutMs is Behind until it answers, and one that answers nothing
  // for GiveUpMs() is reported to the unanswered handler. A desktop may watch only some of
  // the posts to one window (one at a time is enough to see it fall behind). The result says
  // only whether the message could be handed over (kInvalidHandle for the handle 0,
  // kNotEnabled without a desktop, kNoMemory or kError when it could not be queued).
  virtual Result PostMessage(WindowHandle target, uint32_t message, uint32_t wParam,
                             uint32_t lParam, Answer answer) = 0;
  virtual Result PostData(WindowHandle target, uint32_t wParam, uint32_t kind,
                          std::span<const uint8_t> bytes, Answer answer) = 0;

  // Whether the window has left a watched post unanswered for kReplyTimeoutMs or more and
  // has not answered since: what it is sent meanwhile only waits in its queue.
  virtual bool Behind(WindowHandle target) const = 0;

  // For a program that is closing: hands every post still queued over to the system now, to
  // reach its window in order however late that window answers. Waits a moment at most, never
  // for a busy window; what the system cannot hold for a window (data) is left out. A desktop
  // whose posts are with the system already has nothing to do.
  virtual void HandOverPosts() {}

  // The window that sent the message or data being handled right now, as the desktop saw
  // the sender (never what the message says about itself); 0 outside a handler or for a
  // sender that is no window.
  virtual WindowHandle MessageSender() const = 0;

  virtual void SetMessageHandler(MessageHandler handler) = 0;
  virtual void SetDataHandler(DataHandler handler) = 0;
  // Reports come from the desktop's processing of incoming traffic, never from inside a post.
  virtual void SetUnansweredHandler(UnansweredHandler handler) = 0;
};

}  // namespace calvora::platform
