// serve over a desktop under the test's control, in virtual time: it serves without a utility,
// attaches when one appears (hello, and the verdict question once admitted), tells a utility
// that dropped it from one that ended or went, and attaches again.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "VirtualDesktop.h"
#include "link/WinMSG.h"
#include "peer/Controller.h"

namespace calvora::ctl {
namespace {

constexpr platform::WindowHandle kUtility = 7;

// Notes what serve tells its services.
class RecordedServices : public StationServices {
 public:
  void OnEvent(const StationEvent&) override {}
  std::vector<StationEvent> OnAudio(const link::AudioBlockHeader&,
                                    std::span<const uint8_t>) override {
    return {};
  }
  void OnUtility(platform::WindowHandle utility) override {
    told.push_back("utility " + std::to_string(utility));
  }
  void OnVerdict(std::optional<bool> silent) override {
    told.push_back(std::string("verdict ") + (silent ? (*silent ? "silence" : "sound") : "-"));
  }
  std::vector<std::string>& told;
  explicit RecordedServices(std::vector<std::string>& t) : told(t) {}
};

class ServeTest : public ::testing::Test {
 protected:
  ServeTest() {
    options.command = Command::kServe;
    host.nowMs = [this] { return now; };
    host.interrupted = [this] { return now >= endAt; };
    host.report = [this](const std::string& line) { reports.push_back(line); };
    host.makeStationServices = [this](platform::WindowHandle, ControllerHost::Report, int&) {
      return std::make_unique<RecordedServices>(told);
    };
    // Each wait runs what is due in it, then the time passes.
    host.waitAndProcess = [this](int32_t ms) {
      const int64_t until = now + std::max(ms, 1);
      while (!due.empty() && due.begin()->first <= until) {
        now = std::max(now, due.begin()->first);
        const auto action = due.begin()->second;
        due.erase(due.begin());
        action();
      }
      now = until;
    };
    desktop.onSend = [this](const testing::VirtualDesktop::Sent& sent) {
      return sent.lParam == link::TWinMSG::EncodeCommand(link::CMD_VERDICT, 0) ? verdict : 0;
    };
  }

  void At(int64_t ms, std::function<void()> action) { due.emplace(ms, std::move(action)); }
  void Goodbye() {
    desktop.DeliverFrom(kUtility, link::WM_WINMSG, kUtility,
                        link::TWinMSG::EncodeCommand(link::WINMSG_CONTROL, link::CTRL_BYE));
  }
  int Run() { return Controller(desktop, host, options).Run(); }
  // The reports that hold `text`, without their time stamps.
  int Reported(const std::string& text) const {
    int count = 0;
    for (const auto& line : reports)
      count += line.find(text) != std::string::npos;
    return count;
  }
  int HellosAfter(std::size_t from) const {
    int count = 0;
    const uint32_t hello = link::TWinMSG::EncodeCommand(link::WINMSG_CONTROL, link::CTRL_HELLO);
    for (std::size_t i = from; i < desktop.sent.size(); ++i)
      count += desktop.sent[i].lParam == hello && desktop.sent[i].target == kUtility;
    return count;
  }

  testing::VirtualDesktop desktop{100, "CalvoraCtl"};
  ControllerHost host;
  CtlOptions options;
  int64_t now = 0;
  int64_t endAt = 60000;
  int32_t verdict = link::VERDICT_SILENCE;
  std::multimap<int64_t, std::function<void()>> due;
  std::vector<std::string> reports;
  std::vector<std::string> told;
};

TEST_F(ServeTest, ServesWithoutTheUtilityAndTellsDroppedFromEndedAndGone) {
  std::size_t sentBefore = 0;
  // No utility for 3 s: said once; then one comes, already in a silence.
  At(3000, [&] { desktop.AddWindow(kUtility, "TCV_AudioMixer"); });
  // It drops serve and keeps its window: serve attaches again at once.
  At(6000, [&] {
    Goodbye();
    sentBefore = desktop.sent.size();
  });
  // It closes: a goodbye, then its window goes.
  At(9000, [&] {
    Goodbye();
    desktop.RemoveWindow(kUtility);
  });
  // It comes back, unable to say (work not started), and is killed.
  At(12000, [&] {
    verdict = link::VERDICT_NOT_STARTED;
    desktop.AddWindow(kUtility, "TCV_AudioMixer");
  });
  At(15000, [&] { desktop.RemoveWindow(kUtility); });
  endAt = 17000;

  EXPECT_EQ(Run(), kExitOk);  // ended by the "signal"
  // Said at the start, after the end and after the kill; not after the drop.
  EXPECT_EQ(Reported("no Calvora Audio Mixer is running"), 3) << ::testing::PrintToString(reports);
  EXPECT_EQ(Reported("dropped this peer (goodbye at "), 1) << ::testing::PrintToString(reports);
  EXPECT_EQ(Reported("ended (goodbye at "), 1) << ::testing::PrintToString(reports);
  EXPECT_EQ(Reported("has gone without a goodbye"), 1) << ::testing::PrintToString(reports);
  EXPECT_EQ(Reported("attaching to the utility (handle 7)"), 3);
  EXPECT_EQ(told, (std::vector<std::string>{"utility 7", "verdict silence", "utility 0",
                                            "utility 7", "verdict silence", "utility 0",
                                            "utility 7", "verdict -", "utility 0"}));
  // After the drop: a hello at once, another before the question.
  EXPECT_EQ(HellosAfter(sentBefore), 2 + 2);  // and the two of the utility that came back
}

TEST_F(ServeTest, AnUnknownAnswerTakesBackNothingAndTheDurationEndsServe) {
  desktop.AddWindow(kUtility, "TCV_AudioMixer");
  verdict = link::VERDICT_UNKNOWN;  // a utility that does not know the question
  options.durationSeconds = 2;
  EXPECT_EQ(Run(), kExitOk);
  EXPECT_EQ(told, (std::vector<std::string>{"utility 7", "utility 0"}));
  EXPECT_LE(now, 2300);
}

}  // namespace
}  // namespace calvora::ctl
