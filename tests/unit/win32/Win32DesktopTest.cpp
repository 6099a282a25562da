#include "platform/win32/Win32Desktop.h"

#include <windows.h>
#undef SendMessage
#undef PostMessage

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <mutex>
#include <numeric>
#include <thread>
#include <vector>

namespace calvora::platform::win32 {
namespace {

constexpr uint32_t kCommand = 2102;

// What a peer window was sent.
struct Received {
  std::mutex lock;
  std::vector<uint32_t> lParams;
  std::vector<WindowHandle> senders;
  std::vector<uint8_t> bytes;
  uint32_t kind = 0;
  std::vector<uint32_t> order;  // lParam of each message and kind of each data, as they came
};

// The window of another program: a desktop on a thread of its own, answering from its loop.
// A message with lParam 0xDEAD keeps it busy for 1.5 s, as a hung program; 0xB051 for 0.3 s.
class PeerWindow {
 public:
  explicit PeerWindow(Received& received) {
    std::promise<void> ready;
    thread_ = std::thread([&] {
      Win32Desktop desktop("TCV_TestPeer");
      desktop.SetMessageHandler([&](const IncomingMessage& m) {
        if (m.lParam == 0xDEAD)
          Sleep(1500);
        if (m.lParam == 0xB051)
          Sleep(300);
        const std::lock_guard<std::mutex> guard(received.lock);
        received.lParams.push_back(m.lParam);
        received.order.push_back(m.lParam);
        received.senders.push_back(desktop.MessageSender());
        return 42;
      });
      desktop.SetDataHandler([&](const IncomingData& d) {
        const std::lock_guard<std::mutex> guard(received.lock);
        received.bytes.assign(d.bytes.begin(), d.bytes.end());
        received.kind = d.kind;
        received.order.push_back(d.kind);
        received.senders.push_back(desktop.MessageSender());
        return 7;
      });
      window_ = desktop.OwnWindow();
      threadId_ = GetCurrentThreadId();
      ready.set_value();
      MSG message;
      while (GetMessageW(&message, nullptr, 0, 0) > 0)
        DispatchMessageW(&message);
    });
    ready.get_future().wait();
  }
  ~PeerWindow() {
    PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
    thread_.join();
  }
  WindowHandle Window() const { return window_; }

 private:
  std::thread thread_;
  WindowHandle window_ = 0;
  DWORD threadId_ = 0;
};

// Runs this thread's message loop for a while: answers, timers and reports arrive here.
void PumpFor(
    std::chrono::milliseconds time, const std::function<bool()>& done = [] { return false; }) {
  const auto end = std::chrono::steady_clock::now() + time;
  while (std::chrono::steady_clock::now() < end && !done()) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
      DispatchMessageW(&message);
    Sleep(5);
  }
}

TEST(Win32Desktop, APeerIsFoundByItsClassAndAnswersMessagesAndData) {
  Win32Desktop own("TCV_TestOwn");
  ASSERT_NE(own.OwnWindow(), 0u);
  Received received;
  PeerWindow peer(received);

  bool found = false;
  for (const WindowInfo& window : own.EnumWindows())
    found = found || (window.handle == peer.Window() && window.className == "TCV_TestPeer");
  EXPECT_TRUE(found);

  const SendResult answer = own.SendMessage(peer.Window(), kCommand, own.OwnWindow(), 0x50001);
  EXPECT_EQ(answer.status, result::kOk);
  EXPECT_EQ(answer.answer, 42);

  std::vector<uint8_t> block(1942);
  std::iota(block.begin(), block.end(), uint8_t{0});
  const SendResult data = own.SendData(peer.Window(), own.OwnWindow(), 0x10000, block);
  EXPECT_EQ(data.status, result::kOk);
  EXPECT_EQ(data.answer, 7);

  const std::lock_guard<std::mutex> guard(received.lock);
  EXPECT_EQ(received.lParams, std::vector<uint32_t>{0x50001});
  EXPECT_EQ(received.bytes, block);
  EXPECT_EQ(received.kind, 0x10000u);
  EXPECT_EQ(received.senders, (std::vector<WindowHandle>{own.OwnWindow(), own.OwnWindow()}));
}

TEST(Win32Desktop, PostsArriveInOrderWithTheSendsAndAnsweredOnesAreNotReported) {
  Win32Desktop own("TCV_TestOwn");
  std::vector<WindowHandle> unanswered;
  own.SetUnansweredHandler([&](WindowHandle window) { unanswered.push_back(window); });
  Received received;
  PeerWindow peer(received);
  // The peer is busy for a moment, so the posts and the send wait for it together.
  EXPECT_EQ(own.PostMessage(peer.Window(), kCommand, 0, 0xB051, Desktop::Answer::kNone), 0);
  for (uint32_t i = 1; i <= 5; ++i)
    EXPECT_EQ(own.PostMessage(peer.Window(), kCommand, 0, i, Desktop::Answer::kWatch), 0);
  EXPECT_EQ(own.SendMessage(peer.Window(), kCommand, 12345, 6).status, result::kOk);
  EXPECT_EQ(own.PostMessage(0, kCommand, 0, 7, Desktop::Answer::kNone), result::kInvalidHandle);
  PumpFor(std::chrono::milliseconds(1500));
  EXPECT_TRUE(unanswered.empty());

  const std::lock_guard<std::mutex> guard(received.lock);
  EXPECT_EQ(received.lParams, (std::vector<uint32_t>{0xB051, 1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(received.senders.back(), 0u) << "wParam 12345 names no window";
}

// The give-up time for the desktops a test makes meanwhile.
class GiveUpAfter {
 public:
  explicit GiveUpAfter(const char* ms) { _putenv_s("CALVORA_TEST_GIVE_UP_MS", ms); }
  ~GiveUpAfter() { _putenv_s("CALVORA_TEST_GIVE_UP_MS", ""); }
};

TEST(Win32Desktop, ABusyPeerIsBehindGetsEveryPostLateAndHoldsNoOtherPeer) {
  Win32Desktop own("TCV_TestOwn");
  std::vector<WindowHandle> unanswered;
  own.SetUnansweredHandler([&](WindowHandle window) { unanswered.push_back(window); });
  Received busyReceived;
  Received otherReceived;
  PeerWindow busy(busyReceived);
  PeerWindow other(otherReceived);

  // A send to a busy window gives up after the reply time-out.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(own.SendMessage(busy.Window(), kCommand, 0, 0xDEAD).status, result::kTimeout);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
  PumpFor(std::chrono::milliseconds(800));

  // Posts to it return at once, also while it is busy with one of them, and the other peer
  // is served meanwhile.
  const auto posted = std::chrono::steady_clock::now();
  EXPECT_EQ(own.PostMessage(busy.Window(), kCommand, 0, 0xDEAD, Desktop::Answer::kWatch), 0);
  PumpFor(std::chrono::milliseconds(100));
  const std::vector<uint8_t> block{1, 2, 3};
  EXPECT_EQ(own.PostData(busy.Window(), own.OwnWindow(), 0x10000, block, Desktop::Answer::kWatch),
            0);
  EXPECT_EQ(own.PostMessage(busy.Window(), kCommand, 0, 1, Desktop::Answer::kWatch), 0);
  EXPECT_EQ(own.PostMessage(other.Window(), kCommand, 0, 2, Desktop::Answer::kWatch), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - posted, std::chrono::milliseconds(300));
  PumpFor(std::chrono::milliseconds(300));
  {
    const std::lock_guard<std::mutex> guard(otherReceived.lock);
    EXPECT_EQ(otherReceived.lParams, std::vector<uint32_t>{2});
  }
  EXPECT_FALSE(own.Behind(other.Window()));

  // Behind once its oldest post has waited the reply time-out; caught up once it answers,
  // with every post in order; never reported, being only busy.
  PumpFor(std::chrono::milliseconds(1000), [&] { return own.Behind(busy.Window()); });
  EXPECT_TRUE(own.Behind(busy.Window()));
  PumpFor(std::chrono::milliseconds(3000), [&] { return !own.Behind(busy.Window()); });
  EXPECT_FALSE(own.Behind(busy.Window()));
  PumpFor(std::chrono::milliseconds(200));
  EXPECT_TRUE(unanswered.empty());
  const std::lock_guard<std::mutex> guard(busyReceived.lock);
  EXPECT_EQ(busyReceived.order, (std::vector<uint32_t>{0xDEAD, 0xDEAD, 0x10000, 1}));
  EXPECT_EQ(busyReceived.bytes, block);
}

TEST(Win32Desktop, APeerSilentForTheGiveUpTimeIsReportedOnceAndAGoneOneIsInvalid) {
  const GiveUpAfter giveUp("1200");
  Win32Desktop own("TCV_TestOwn");
  std::vector<WindowHandle> unanswered;
  own.SetUnansweredHandler([&](WindowHandle window) { unanswered.push_back(window); });
  WindowHandle gone = 0;
  {
    Received received;
    PeerWindow peer(received);
    gone = peer.Window();
    // Busy for 1.5 s, longer than the give-up time: reported once, from the window's
    // processing, never from inside a post; what was queued meanwhile is dropped.
    EXPECT_EQ(own.PostMessage(peer.Window(), kCommand, 0, 0xDEAD, Desktop::Answer::kWatch), 0);
    EXPECT_EQ(own.PostMessage(peer.Window(), kCommand, 0, 3, Desktop::Answer::kWatch), 0);
    EXPECT_TRUE(unanswered.empty());
    PumpFor(std::chrono::milliseconds(3000), [&] { return !unanswered.empty(); });
    EXPECT_EQ(unanswered, std::vector<WindowHandle>{peer.Window()});
    PumpFor(std::chrono::milliseconds(600));
    EXPECT_EQ(unanswered.size(), 1u);

    // A goodbye that asks for no answer goes out after that, without waiting.
    EXPECT_EQ(own.PostMessage(peer.Window(), kCommand, 0, 4, Desktop::Answer::kNone), 0);
    PumpFor(std::chrono::milliseconds(500));
    const std::lock_guard<std::mutex> guard(received.lock);
    EXPECT_EQ(received.lParams, (std::vector<uint32_t>{0xDEAD, 4}));
  }
  EXPECT_EQ(own.SendMessage(gone, kCommand, 0, 1).status, result::kInvalidHandle);
  EXPECT_EQ(own.SendData(gone, 0, 1, {}).status, result::kInvalidHandle);
  EXPECT_EQ(own.PostMessage(gone, kCommand, 0, 1, Desktop::Answer::kWatch), result::kInvalidHandle);
  EXPECT_FALSE(own.Behind(gone));
}

TEST(Win32Desktop, WindowMessagesStillQueuedAtTheEndAreHandedOver) {
  Received received;
  PeerWindow peer(received);
  {
    Win32Desktop own("TCV_TestOwn");
    // The peer is busy with the first when the desktop ends; the goodbye after it still goes.
    EXPECT_EQ(own.PostMessage(peer.Window(), kCommand, 0, 0xB051, Desktop::Answer::kWatch), 0);
    EXPECT_EQ(own.PostMessage(peer.Window(), kCommand, 0, 8, Desktop::Answer::kNone), 0);
    Sleep(50);
  }
  PumpFor(std::chrono::milliseconds(1500), [&] {
    const std::lock_guard<std::mutex> guard(received.lock);
    return received.lParams.size() >= 2;
  });
  const std::lock_guard<std::mutex> guard(received.lock);
  EXPECT_EQ(received.lParams, (std::vector<uint32_t>{0xB051, 8}));
}

}  // namespace
}  // namespace calvora::platform::win32
