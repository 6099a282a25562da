#include "platform/dbus/SdBusDesktop.h"

#include <poll.h>
#include <systemd/sd-bus.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <limits>

namespace calvora::platform::dbus {

namespace {

constexpr const char* kBusService = "org.freedesktop.DBus";
constexpr const char* kBusPath = "/org/freedesktop/DBus";
constexpr const char* kBusInterface = "org.freedesktop.DBus";
constexpr std::string_view kUniquePrefix = ":1.";
constexpr std::size_t kMaxClassName = 200;  // keeps the whole bus name under 255 characters

uint64_t MonotonicUs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
}

std::string ErrnoText(int error) {
  return std::strerror(error < 0 ? -error : error);
}

// The handle is N + 1 for the unique name ":1.N", so no window has the handle 0.
bool HandleFromUniqueName(std::string_view unique, WindowHandle& handle) {
  if (!unique.starts_with(kUniquePrefix))
    return false;
  const std::string_view digits = unique.substr(kUniquePrefix.size());
  uint64_t n = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
  if (ec != std::errc() || end != digits.data() + digits.size() || digits.empty())
    return false;
  if (n >= std::numeric_limits<WindowHandle>::max())
    return false;
  handle = static_cast<WindowHandle>(n + 1);
  return true;
}

// The arguments of the window's two methods.
std::function<int(sd_bus_message*)> MessageArguments(uint32_t message, uint32_t wParam,
                                                     uint32_t lParam) {
  return [=](sd_bus_message* call) {
    return sd_bus_message_append(call, "uuu", message, wParam, lParam);
  };
}

std::function<int(sd_bus_message*)> DataArguments(uint32_t wParam, uint32_t kind,
                                                  std::span<const uint8_t> bytes) {
  return [=](sd_bus_message* call) {
    int r = sd_bus_message_append(call, "uu", wParam, kind);
    if (r >= 0)
      r = sd_bus_message_append_array(call, 'y', bytes.data(), bytes.size());
    return r;
  };
}

// The owner changes of every name in the window namespace, and of no other name.
constexpr const char* kOwnerMatch =
    "type='signal',sender='org.freedesktop.DBus',path='/org/freedesktop/DBus',"
    "interface='org.freedesktop.DBus',member='NameOwnerChanged',arg0namespace='org.calvora.Window'";

bool IsTimeoutError(const sd_bus_error* error) {
  return sd_bus_error_has_name(error, SD_BUS_ERROR_NO_REPLY) ||
         sd_bus_error_has_name(error, SD_BUS_ERROR_TIMEOUT);
}

// Hands an async call's userdata to the bus: the slot floats, and the userdata is freed with
// it, whether the reply came or the connection went first.
template <typename T>
void FloatWithUserdata(sd_bus_slot* slot) {
  sd_bus_slot_set_destroy_callback(slot, [](void* userdata) { delete static_cast<T*>(userdata); });
  sd_bus_slot_set_floating(slot, 1);
  sd_bus_slot_unref(slot);
}

}  // namespace

std::string SdBusDesktop::UniqueNameOf(WindowHandle handle) {
  return std::string(kUniquePrefix) + std::to_string(static_cast<uint64_t>(handle) - 1);
}

struct SdBusDesktop::PendingReply {
  bool done = false;
  sd_bus_message* reply = nullptr;
};

struct SdBusDesktop::PostedCall {
  SdBusDesktop* desktop;
  WindowHandle target;
  uint64_t postedUs;
};

struct SdBusDesktop::OwnerQuery {
  SdBusDesktop* desktop;
  std::string name;
};

struct SdBusCallbacks {
  // A call to this window is only queued here: it is answered by Process, outside
  // sd_bus_process, so that its handler may itself send and wait.
  static int OnMethodCall(sd_bus_message* call, void* userdata, sd_bus_error* /*error*/) {
    auto* self = static_cast<SdBusDesktop*>(userdata);
    self->incoming_.push_back(sd_bus_message_ref(call));
    return 1;
  }

  static int OnReply(sd_bus_message* reply, void* userdata, sd_bus_error* /*error*/) {
    auto* pending = static_cast<SdBusDesktop::PendingReply*>(userdata);
    pending->reply = sd_bus_message_ref(reply);
    pending->done = true;
    return 0;
  }

  static int OnPostReply(sd_bus_message* reply, void* userdata, sd_bus_error* /*error*/) {
    const auto* post = static_cast<SdBusDesktop::PostedCall*>(userdata);
    post->desktop->PostAnswered(*post, reply);
    return 0;
  }

  static int OnNameOwnerChanged(sd_bus_message* signal, void* userdata, sd_bus_error* /*error*/) {
    auto* self = static_cast<SdBusDesktop*>(userdata);
    const char* name = nullptr;
    const char* oldOwner = nullptr;
    const char* newOwner = nullptr;
    if (sd_bus_message_read(signal, "sss", &name, &oldOwner, &newOwner) >= 0)
      self->NoteOwner(name, newOwner);
    return 0;
  }

  static int OnNameList(sd_bus_message* reply, void* userdata, sd_bus_error* /*error*/) {
    auto* self = static_cast<SdBusDesktop*>(userdata);
    --self->ownerQueries_;
    char** names = nullptr;
    if (sd_bus_message_get_error(reply) || sd_bus_message_read_strv(reply, &names) < 0 || !names)
      return 0;
    for (char** name = names; *name; ++name) {
      WindowInfo window;
      if (SdBusDesktop::ParseWindowBusName(*name, window))
        self->AskOwner(*name);
      std::free(*name);
    }
    std::free(names);
    return 0;
  }

  // Owners are applied in the order the bus sends them, between the owner-change signals,
  // so the followed names always show the latest state the bus has told.
  static int OnNameOwner(sd_bus_message* reply, void* userdata, sd_bus_error* /*error*/) {
    const auto* query = static_cast<SdBusDesktop::OwnerQuery*>(userdata);
    SdBusDesktop* self = query->desktop;
    --self->ownerQueries_;
    const char* owner = nullptr;
    if (sd_bus_message_get_error(reply) || sd_bus_message_read(reply, "s", &owner) < 0 || !owner)
      owner = "";
    self->NoteOwner(query->name, owner);
    return 0;
  }

  static const sd_bus_vtable kWindowVtable[];
};

const sd_bus_vtable SdBusCallbacks::kWindowVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD_WITH_NAMES(
        "SendMessage", "uuu", SD_BUS_PARAM(message) SD_BUS_PARAM(wparam) SD_BUS_PARAM(lparam), "i",
        SD_BUS_PARAM(result), &SdBusCallbacks::OnMethodCall, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES(
        "CopyData", "uuay", SD_BUS_PARAM(wparam) SD_BUS_PARAM(kind) SD_BUS_PARAM(data), "i",
        SD_BUS_PARAM(result), &SdBusCallbacks::OnMethodCall, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END};

std::unique_ptr<SdBusDesktop> SdBusDesktop::Open(std::string_view className) {
  std::unique_ptr<SdBusDesktop> desktop(new SdBusDesktop);
  desktop->Connect(className);
  return desktop;
}

bool SdBusDesktop::Connect(std::string_view className) {
  giveUpMs_ = GiveUpMs();
  if (!IsValidClassName(className)) {
    errorText_ = "invalid window class name \"" + std::string(className) + "\"";
    return false;
  }
  int r = sd_bus_open_user(&bus_);
  if (r < 0) {
    bus_ = nullptr;
    errorText_ = "no session bus: " + ErrnoText(r);
    return false;
  }
  const char* unique = nullptr;
  r = sd_bus_get_unique_name(bus_, &unique);
  if (r < 0) {
    Lose(r, "no session bus");
    return false;
  }
  if (!HandleFromUniqueName(unique, ownWindow_)) {
    Lose(EPROTO, "unexpected unique name " + std::string(unique) + " on the session bus");
    return false;
  }
  r = sd_bus_add_object_vtable(bus_, &objectSlot_, kObjectPath, kInterface,
                               SdBusCallbacks::kWindowVtable, this);
  if (r < 0) {
    Lose(r, "cannot serve the window object");
    return false;
  }
  r = FollowWindowNames();
  if (r < 0) {
    Lose(r, "cannot follow the windows on the session bus");
    return false;
  }
  windowName_ = WindowBusName(className, ownWindow_);
  r = sd_bus_request_name(bus_, windowName_.c_str(), 0);
  if (r < 0) {
    Lose(r, "cannot own the name " + windowName_);
    return false;
  }
  // The first listing is complete before anyone asks for it; a bus that is too slow for
  // that leaves the names to arrive as they come.
  WaitUntil([this] { return ownerQueries_ == 0; },
            MonotonicUs() + static_cast<uint64_t>(kReplyTimeoutMs) * 1000u);
  return true;
}

int SdBusDesktop::FollowWindowNames() {
  int r =
      sd_bus_add_match(bus_, &ownerMatch_, kOwnerMatch, &SdBusCallbacks::OnNameOwnerChanged, this);
  if (r < 0)
    return r;
  r = sd_bus_call_method_async(bus_, nullptr, kBusService, kBusPath, kBusInterface, "ListNames",
                               &SdBusCallbacks::OnNameList, this, "");
  if (r >= 0)
    ++ownerQueries_;
  return r;
}

void SdBusDesktop::AskOwner(const char* name) {
  auto* query = new OwnerQuery{this, name};
  sd_bus_slot* slot = nullptr;
  const int r =
      sd_bus_call_method_async(bus_, &slot, kBusService, kBusPath, kBusInterface, "GetNameOwner",
                               &SdBusCallbacks::OnNameOwner, query, "s", name);
  if (r < 0) {
    delete query;
    return;
  }
  ++ownerQueries_;
  FloatWithUserdata<OwnerQuery>(slot);
}

SdBusDesktop::~SdBusDesktop() {
  for (sd_bus_message* call : incoming_)
    sd_bus_message_unref(call);
  incoming_.clear();
  sd_bus_slot_unref(objectSlot_);
  sd_bus_slot_unref(ownerMatch_);
  // Flushed: what was posted last, a goodbye above all, reaches the bus before the window
  // leaves it, and the bus delivers it before it announces the window gone.
  if (bus_)
    sd_bus_flush_close_unref(bus_);
}

void SdBusDesktop::Lose(int error, std::string_view what) {
  errorText_ = std::string(what) + ": " + ErrnoText(error);
  for (sd_bus_message* call : incoming_)
    sd_bus_message_unref(call);
  incoming_.clear();
  objectSlot_ = sd_bus_slot_unref(objectSlot_);
  ownerMatch_ = sd_bus_slot_unref(ownerMatch_);
  if (bus_)
    bus_ = sd_bus_close_unref(bus_);
  ownWindow_ = 0;
  windowName_.clear();
  windows_.clear();
  unanswered_.clear();
  watchedPosts_.clear();
  lastWatchedUs_.clear();
  ownerQueries_ = 0;
  Rearm();
}

int SdBusDesktop::Fd() const {
  return bus_ ? sd_bus_get_fd(bus_) : -1;
}

bool SdBusDesktop::WantsWrite() const {
  return bus_ && (sd_bus_get_events(bus_) & POLLOUT) != 0;
}

int64_t SdBusDesktop::TimeoutMs() const {
  if (!bus_)
    return -1;
  uint64_t until = 0;
  if (sd_bus_get_timeout(bus_, &until) <= 0 || until == std::numeric_limits<uint64_t>::max())
    return -1;
  const uint64_t now = MonotonicUs();
  if (until <= now)
    return 0;
  return static_cast<int64_t>((until - now + 999) / 1000);
}

void SdBusDesktop::Rearm() const {
  if (rearm_)
    rearm_();
}

void SdBusDesktop::DrainBus() {
  while (bus_) {
    const int r = sd_bus_process(bus_, nullptr);
    if (r < 0) {
      Lose(r, "session bus connection lost");
      return;
    }
    if (r == 0)
      return;
  }
}

void SdBusDesktop::Process() {
  DrainBus();
  while (bus_ && (!incoming_.empty() || !unanswered_.empty())) {
    if (!unanswered_.empty()) {
      const WindowHandle window = unanswered_.front();
      unanswered_.pop_front();
      const UnansweredHandler handler = unansweredHandler_;  // it may replace itself
      if (handler)
        handler(window);
    } else {
      sd_bus_message* call = incoming_.front();
      incoming_.pop_front();
      AnswerCall(call);
      sd_bus_message_unref(call);
    }
    DrainBus();
  }
  Rearm();
}

void SdBusDesktop::WaitAndProcess(int32_t timeoutMs) {
  if (!bus_) {
    if (timeoutMs > 0) {
      const timespec pause{timeoutMs / 1000, static_cast<long>(timeoutMs % 1000) * 1000000L};
      nanosleep(&pause, nullptr);
    }
    return;
  }
  Process();
  const int r = sd_bus_wait(bus_, static_cast<uint64_t>(std::max(timeoutMs, 0)) * 1000u);
  if (r < 0 && r != -EINTR) {
    Lose(r, "session bus connection lost");
    return;
  }
  Process();
}

void SdBusDesktop::AnswerCall(sd_bus_message* call) {
  int32_t answer = 0;
  // The sender is the bus's word, not the message's: wParam may name any window.
  const char* sender = sd_bus_message_get_sender(call);
  WindowHandle senderWindow = 0;
  if (!sender || !HandleFromUniqueName(sender, senderWindow))
    senderWindow = 0;
  const WindowHandle outerSender = messageSender_;  // answers may nest inside a send
  messageSender_ = senderWindow;
  const char* member = sd_bus_message_get_member(call);
  if (member && std::strcmp(member, "SendMessage") == 0) {
    IncomingMessage message;
    if (sd_bus_message_read(call, "uuu", &message.message, &message.wParam, &message.lParam) >= 0) {
      const MessageHandler handler = messageHandler_;  // the handler may replace itself
      if (handler)
        answer = handler(message);
    }
  } else if (member && std::strcmp(member, "CopyData") == 0) {
    IncomingData data;
    const void* bytes = nullptr;
    std::size_t size = 0;
    if (sd_bus_message_read(call, "uu", &data.wParam, &data.kind) >= 0 &&
        sd_bus_message_read_array(call, 'y', &bytes, &size) >= 0) {
      data.bytes = std::span<const uint8_t>(static_cast<const uint8_t*>(bytes), size);
      const DataHandler handler = dataHandler_;
      if (handler)
        answer = handler(data);
    }
  }
  messageSender_ = outerSender;
  // The caller may have given up meanwhile; then the bus simply drops the reply.
  if (bus_)
    sd_bus_reply_method_return(call, "i", answer);
}

bool SdBusDesktop::WaitUntil(const std::function<bool()>& done, uint64_t deadlineUs) {
  while (bus_) {
    Process();
    if (done())
      return true;
    if (!bus_)
      break;
    const uint64_t now = MonotonicUs();
    if (now >= deadlineUs)
      break;
    const int r = sd_bus_wait(bus_, deadlineUs - now);
    if (r < 0 && r != -EINTR)
      Lose(r, "session bus connection lost");
  }
  return false;
}

sd_bus_message* SdBusDesktop::CallAndWait(sd_bus_message* call, Result& status) {
  PendingReply pending;
  sd_bus_slot* slot = nullptr;
  const uint64_t started = MonotonicUs();
  const uint64_t timeoutUs = static_cast<uint64_t>(kReplyTimeoutMs) * 1000u;
  const int r = sd_bus_call_async(bus_, &slot, call, &SdBusCallbacks::OnReply, &pending, timeoutUs);
  if (r < 0) {
    status = (r == -ENOTCONN || r == -ECONNRESET) ? result::kNotEnabled : result::kError;
    if (status == result::kNotEnabled)
      Lose(r, "session bus connection lost");
    return nullptr;
  }
  // sd-bus answers an unanswered call itself with an error when the time-out has passed;
  // the extra margin only guards against a clock that stalls.
  WaitUntil([&pending] { return pending.done; }, started + timeoutUs + 200000u);
  sd_bus_slot_unref(slot);  // cancels the call if it is still waiting

  if (!pending.done) {
    status = bus_ ? result::kTimeout : result::kNotEnabled;
    return nullptr;
  }
  const sd_bus_error* error = sd_bus_message_get_error(pending.reply);
  if (!error) {
    status = result::kOk;
    return pending.reply;
  }
  const bool lateEnough = MonotonicUs() - started >= timeoutUs;
  if (sd_bus_error_has_name(error, SD_BUS_ERROR_SERVICE_UNKNOWN) ||
      sd_bus_error_has_name(error, SD_BUS_ERROR_NAME_HAS_NO_OWNER)) {
    status = result::kInvalidHandle;
  } else if (IsTimeoutError(error)) {
    // No reply before the time-out, or the receiver left the bus without replying.
    status = lateEnough ? result::kTimeout : result::kInvalidHandle;
  } else if (sd_bus_error_has_name(error, SD_BUS_ERROR_UNKNOWN_METHOD) ||
             sd_bus_error_has_name(error, SD_BUS_ERROR_UNKNOWN_OBJECT) ||
             sd_bus_error_has_name(error, SD_BUS_ERROR_UNKNOWN_INTERFACE)) {
    status = result::kNotSupported;
  } else {
    status = result::kError;
  }
  sd_bus_message_unref(pending.reply);
  return nullptr;
}

sd_bus_message* SdBusDesktop::NewWindowCall(WindowHandle target, const char* member,
                                            const AppendArguments& appendArguments,
                                            Result& status) {
  if (!bus_) {
    status = result::kNotEnabled;
    return nullptr;
  }
  if (target == 0) {
    status = result::kInvalidHandle;
    return nullptr;
  }
  sd_bus_message* call = nullptr;
  const std::string destination = UniqueNameOf(target);
  int r = sd_bus_message_new_method_call(bus_, &call, destination.c_str(), kObjectPath, kInterface,
                                         member);
  if (r >= 0)
    r = appendArguments(call);
  if (r < 0) {
    sd_bus_message_unref(call);
    status = r == -ENOMEM ? result::kNoMemory : result::kError;
    return nullptr;
  }
  status = result::kOk;
  return call;
}

SendResult SdBusDesktop::Send(WindowHandle target, const char* member,
                              const AppendArguments& appendArguments) {
  SendResult outcome{result::kOk, 0};
  sd_bus_message* call = NewWindowCall(target, member, appendArguments, outcome.status);
  if (!call) {
    Rearm();
    return outcome;
  }
  sd_bus_message* reply = CallAndWait(call, outcome.status);
  sd_bus_message_unref(call);
  if (reply) {
    if (sd_bus_message_read(reply, "i", &outcome.answer) < 0) {
      outcome.answer = 0;
      outcome.status = result::kError;  // a window that answers with something else
    }
    sd_bus_message_unref(reply);
  }
  Rearm();
  return outcome;
}

SendResult SdBusDesktop::SendMessage(WindowHandle target, uint32_t message, uint32_t wParam,
                                     uint32_t lParam) {
  return Send(target, "SendMessage", MessageArguments(message, wParam, lParam));
}

SendResult SdBusDesktop::SendData(WindowHandle target, uint32_t wParam, uint32_t kind,
                                  std::span<const uint8_t> bytes) {
  return Send(target, "CopyData", DataArguments(wParam, kind, bytes));
}

Result SdBusDesktop::Post(WindowHandle target, const char* member, Answer answer,
                          const AppendArguments& appendArguments) {
  Result status = result::kOk;
  sd_bus_message* call = NewWindowCall(target, member, appendArguments, status);
  if (!call) {
    Rearm();
    return status;
  }
  // One asked-for answer at a time per window is enough to see whether it keeps up. The bus
  // keeps a record of every call that waits for an answer, against this connection's
  // limit, for as long as the receiver lives; a window that never answers must not use
  // that limit up with a record for every block. The answer is awaited for the whole
  // give-up time: a window that answers late is behind, not gone.
  // Nor need every post of a steady stream ask for one: a window that answered a watched
  // post lately is followed again only kWatchSpacingUs after that post, so that an audio
  // stream of 100 blocks a second costs a few answers a second, not an answer (and a wake-up
  // to read it) per block. A window that stops answering is still behind within
  // kReplyTimeoutMs plus that spacing.
  const uint64_t now = MonotonicUs();
  if (answer == Answer::kWatch) {
    const auto last = lastWatchedUs_.find(target);
    if (watchedPosts_.contains(target) ||
        (last != lastWatchedUs_.end() && now - last->second < kWatchSpacingUs))
      answer = Answer::kNone;
  }
  int r = 0;
  if (answer == Answer::kNone) {
    r = sd_bus_message_set_expect_reply(call, 0);
    if (r >= 0)
      r = sd_bus_send(bus_, call, nullptr);
  } else {
    auto* post = new PostedCall{this, target, now};
    sd_bus_slot* slot = nullptr;
    r = sd_bus_call_async(bus_, &slot, call, &SdBusCallbacks::OnPostReply, post,
                          static_cast<uint64_t>(giveUpMs_) * 1000u);
    if (r >= 0) {
      FloatWithUserdata<PostedCall>(slot);
      watchedPosts_[target] = now;
      lastWatchedUs_[target] = now;
    } else {
      delete post;
    }
  }
  sd_bus_message_unref(call);
  if (r < 0) {
    status = r == -ENOMEM || r == -ENOBUFS ? result::kNoMemory : result::kError;
    if (r == -ENOTCONN || r == -ECONNRESET) {
      status = result::kNotEnabled;
      Lose(r, "session bus connection lost");
    }
  }
  Rearm();
  return status;
}

void SdBusDesktop::PostAnswered(const PostedCall& post, sd_bus_message* reply) {
  const auto watched = watchedPosts_.find(post.target);
  if (watched != watchedPosts_.end() && watched->second == post.postedUs)
    watchedPosts_.erase(watched);
  const sd_bus_error* error = sd_bus_message_get_error(reply);
  // A window that left without answering is not hung: the next scan sees it gone.
  if (!error || !IsTimeoutError(error) ||
      MonotonicUs() - post.postedUs < static_cast<uint64_t>(giveUpMs_) * 1000u)
    return;
  unanswered_.push_back(post.target);
}

bool SdBusDesktop::Behind(WindowHandle target) const {
  const auto watched = watchedPosts_.find(target);
  return watched != watchedPosts_.end() &&
         MonotonicUs() - watched->second >= static_cast<uint64_t>(kReplyTimeoutMs) * 1000u;
}

Result SdBusDesktop::PostMessage(WindowHandle target, uint32_t message, uint32_t wParam,
                                 uint32_t lParam, Answer answer) {
  return Post(target, "SendMessage", answer, MessageArguments(message, wParam, lParam));
}

Result SdBusDesktop::PostData(WindowHandle target, uint32_t wParam, uint32_t kind,
                              std::span<const uint8_t> bytes, Answer answer) {
  return Post(target, "CopyData", answer, DataArguments(wParam, kind, bytes));
}

void SdBusDesktop::NoteOwner(const std::string& name, std::string_view owner) {
  // Only a name whose owner is the very connection its handle stands for is a window: no
  // program can hold a window name for a handle that is not its own.
  WindowInfo window;
  if (ParseWindowBusName(name, window) && owner == UniqueNameOf(window.handle)) {
    windows_[name] = std::move(window);
  } else {
    // A window that left is forgotten; its handle is never used again.
    if (window.handle != 0)
      lastWatchedUs_.erase(window.handle);
    windows_.erase(name);
  }
}

std::vector<WindowInfo> SdBusDesktop::EnumWindows() {
  DrainBus();  // the owner changes that have arrived meanwhile
  std::vector<WindowInfo> windows;
  windows.reserve(windows_.size());
  for (const auto& [name, window] : windows_)
    windows.push_back(window);
  return windows;
}

std::string SdBusDesktop::WindowBusName(std::string_view className, WindowHandle handle) {
  return std::string(kNamePrefix) + std::string(className) + ".H" + std::to_string(handle);
}

bool SdBusDesktop::ParseWindowBusName(std::string_view busName, WindowInfo& window) {
  if (!busName.starts_with(kNamePrefix))
    return false;
  const std::string_view rest = busName.substr(kNamePrefix.size());
  const std::size_t dot = rest.rfind(".H");
  if (dot == std::string_view::npos)
    return false;
  const std::string_view className = rest.substr(0, dot);
  const std::string_view digits = rest.substr(dot + 2);
  // One spelling per handle: "H07" is no window, so no one can hold a second name for 7.
  if (!IsValidClassName(className) || digits.empty() || digits.front() == '0')
    return false;
  WindowHandle handle = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), handle);
  if (ec != std::errc() || end != digits.data() + digits.size() || handle == 0)
    return false;
  window.handle = handle;
  window.className = std::string(className);
  return true;
}

bool SdBusDesktop::IsValidClassName(std::string_view className) {
  if (className.empty() || className.size() > kMaxClassName)
    return false;
  if (className.front() >= '0' && className.front() <= '9')
    return false;
  return std::all_of(className.begin(), className.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
  });
}

}  // namespace calvora::platform::dbus
