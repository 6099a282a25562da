#pragma once
// The desktop on the user's session bus. Each window is one bus connection: its handle is
// N + 1 for the unique name ":1.N", it owns "org.calvora.Window.<ClassName>.H<handle>" and
// serves the object /org/calvora/Window with the interface org.calvora.Window:
//   SendMessage(u message, u wparam, u lparam) -> (i result)
//   CopyData(u wparam, u kind, ay data) -> (i result)
// The windows are followed through the bus's name-owner signals for the org.calvora.Window
// namespace, so a listing costs nothing on the bus however many other names it carries. A
// name counts as a window only while its owner is the unique name its handle stands for:
// no program can pass itself off as another window.
// A program started without a session bus gets a desktop with no window: it lists nothing,
// every send answers 0, and ErrorText() says why, so the program can say so and run on.
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "platform/Desktop.h"

struct sd_bus;
struct sd_bus_slot;
struct sd_bus_message;

namespace calvora::platform::dbus {

class SdBusDesktop : public Desktop {
 public:
  static constexpr std::string_view kNamePrefix = "org.calvora.Window.";
  static constexpr const char* kObjectPath = "/org/calvora/Window";
  static constexpr const char* kInterface = "org.calvora.Window";

  // Connects to the session bus and registers a window of the given class. Always returns
  // a desktop; check Connected() and ErrorText().
  static std::unique_ptr<SdBusDesktop> Open(std::string_view className);
  ~SdBusDesktop() override;
  SdBusDesktop(const SdBusDesktop&) = delete;
  SdBusDesktop& operator=(const SdBusDesktop&) = delete;

  bool Connected() const { return bus_ != nullptr; }
  // Why there is no connection (or why it was lost); empty while connected.
  const std::string& ErrorText() const { return errorText_; }
  // The window's well-known bus name; empty without a connection.
  const std::string& WindowName() const { return windowName_; }

  WindowHandle OwnWindow() const override { return ownWindow_; }
  // The followed window names whose owner is the window their handle names.
  std::vector<WindowInfo> EnumWindows() override;
  SendResult SendMessage(WindowHandle target, uint32_t message, uint32_t wParam,
                         uint32_t lParam) override;
  SendResult SendData(WindowHandle target, uint32_t wParam, uint32_t kind,
                      std::span<const uint8_t> bytes) override;
  Result PostMessage(WindowHandle target, uint32_t message, uint32_t wParam, uint32_t lParam,
                     Answer answer) override;
  Result PostData(WindowHandle target, uint32_t wParam, uint32_t kind,
                  std::span<const uint8_t> bytes, Answer answer) override;
  bool Behind(WindowHandle target) const override;
  WindowHandle MessageSender() const override { return messageSender_; }
  void SetMessageHandler(MessageHandler handler) override { messageHandler_ = std::move(handler); }
  void SetDataHandler(DataHandler handler) override { dataHandler_ = std::move(handler); }
  void SetUnansweredHandler(UnansweredHandler handler) override {
    unansweredHandler_ = std::move(handler);
  }

  // Main-loop integration: the descriptor to watch, whether to watch it for writing too,
  // and in how many milliseconds Process must run at the latest (-1: no deadline).
  int Fd() const;
  bool WantsWrite() const;
  int64_t TimeoutMs() const;
  // Handles whatever has arrived: answers the calls to this window, in arrival order.
  void Process();
  // For programs without a main loop: waits up to timeoutMs for traffic, then Process.
  void WaitAndProcess(int32_t timeoutMs);
  // Called after every operation that may leave work for the main loop to watch for
  // (queued output, a new deadline); the main loop re-arms its watches in it.
  void SetRearm(std::function<void()> rearm) { rearm_ = std::move(rearm); }

  // The well-known name of a window, and the reverse: false for a name that is no window.
  static std::string WindowBusName(std::string_view className, WindowHandle handle);
  static bool ParseWindowBusName(std::string_view busName, WindowInfo& window);
  // Letters, digits and '_', not starting with a digit, at most 200 characters.
  static bool IsValidClassName(std::string_view className);

 private:
  // The unique bus name of a window's connection, ":1.(handle - 1)".
  static std::string UniqueNameOf(WindowHandle handle);
  struct PendingReply;
  struct PostedCall;
  struct OwnerQuery;
  using AppendArguments = std::function<int(sd_bus_message*)>;

  SdBusDesktop() = default;
  bool Connect(std::string_view className);
  // Subscribes to the owner changes of window names, then asks for the names there are.
  int FollowWindowNames();
  void AskOwner(const char* name);
  // A followed name has a new owner ("" for none).
  void NoteOwner(const std::string& name, std::string_view owner);
  void Lose(int error, std::string_view what);
  void DrainBus();
  void AnswerCall(sd_bus_message* call);
  // Serves this window until done() holds, the deadline passes or the bus is lost.
  bool WaitUntil(const std::function<bool()>& done, uint64_t deadlineUs);
  // Sends the call and waits for its reply while serving this window; null on time-out.
  sd_bus_message* CallAndWait(sd_bus_message* call, Result& status);
  sd_bus_message* NewWindowCall(WindowHandle target, const char* member,
                                const AppendArguments& appendArguments, Result& status);
  SendResult Send(WindowHandle target, const char* member, const AppendArguments& appendArguments);
  Result Post(WindowHandle target, const char* member, Answer answer,
              const AppendArguments& appendArguments);
  void PostAnswered(const PostedCall& post, sd_bus_message* reply);
  void Rearm() const;

  friend struct SdBusCallbacks;  // the C callbacks of sd-bus

  sd_bus* bus_ = nullptr;
  sd_bus_slot* objectSlot_ = nullptr;
  WindowHandle ownWindow_ = 0;
  std::string windowName_;
  std::string errorText_;
  sd_bus_slot* ownerMatch_ = nullptr;
  std::map<std::string, WindowInfo> windows_;  // by name, those owned by their window
  int ownerQueries_ = 0;                       // owners of the first listing still asked
  std::deque<sd_bus_message*> incoming_;       // calls to this window waiting for an answer
  WindowHandle messageSender_ = 0;             // of the call being answered
  // The one watched post each window has yet to answer, with the time it was posted.
  std::map<WindowHandle, uint64_t> watchedPosts_;
  // When each window was last posted a watched post; the next waits kWatchSpacingUs.
  static constexpr uint64_t kWatchSpacingUs = 200000;
  std::map<WindowHandle, uint64_t> lastWatchedUs_;
  int32_t giveUpMs_ = kGiveUpMs;
  std::deque<WindowHandle> unanswered_;  // reports waiting for delivery
  MessageHandler messageHandler_;
  DataHandler dataHandler_;
  UnansweredHandler unansweredHandler_;
  std::function<void()> rearm_;
};

}  // namespace calvora::platform::dbus
