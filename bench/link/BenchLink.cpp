// bench-link: the cost of the command channel on a session bus. Prints the median round
// trip of one window message and of one 1942-byte data message (a 10 ms block of 48 kHz
// 16-bit stereo with its header), beside the bus's own ping to the same program as the
// baseline, and the sustained audio blocks per second to 1, 4 and 16 peers against the
// 100 per second each peer needs at 48 kHz. Runs on a private bus of its own.
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "link/WinMSG.h"
#include "platform/dbus/SdBusDesktop.h"

namespace {

using calvora::link::TWinMSG;
using calvora::platform::WindowHandle;
using calvora::platform::dbus::SdBusDesktop;

constexpr int kPeers = 16;
constexpr int kRounds = 2000;
constexpr std::size_t kBlockBytes = 1920;  // 10 ms of 48 kHz, 2 channels, 16 bit

double NowUs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

// Timers that never fire: the benchmark runs the scan itself.
class ManualTimers : public calvora::platform::Timers {
  class Idle : public calvora::platform::Timer {
   public:
    void SetEnabled(bool) override {}
    bool Enabled() const override { return false; }
    void SetInterval(int32_t) override {}
    int32_t Interval() const override { return 0; }
  };

 public:
  std::unique_ptr<calvora::platform::Timer> CreateTimer(int32_t, std::function<void()>) override {
    return std::make_unique<Idle>();
  }
  void ProcessPendingEvents() override {}
};

// A peer program: answers every message with 0 until the benchmark closes its pipe.
[[noreturn]] void RunPeer(int reportFd, int lifeFd) {
  auto desktop = SdBusDesktop::Open("BenchPeer");
  const WindowHandle handle = desktop->OwnWindow();
  if (write(reportFd, &handle, sizeof handle) != sizeof handle)
    _exit(1);
  close(reportFd);
  for (;;) {
    pollfd life{lifeFd, POLLIN, 0};
    if (poll(&life, 1, 0) > 0)
      _exit(0);  // the benchmark has ended
    desktop->WaitAndProcess(50);
  }
}

struct Figures {
  double median = 0;
  double p99 = 0;
};

Figures Measure(const std::function<void()>& round) {
  for (int i = 0; i < 100; ++i)
    round();  // warm-up
  std::vector<double> us;
  us.reserve(kRounds);
  for (int i = 0; i < kRounds; ++i) {
    const double start = NowUs();
    round();
    us.push_back(NowUs() - start);
  }
  std::sort(us.begin(), us.end());
  return {us[us.size() / 2], us[us.size() * 99 / 100]};
}

}  // namespace

int main(int argc, char** argv) {
  // Never touch the user's own session bus: start again on a private one.
  if (!getenv("CALVORA_BENCH_PRIVATE_BUS")) {
    setenv("CALVORA_BENCH_PRIVATE_BUS", "1", 1);
    std::vector<char*> args{const_cast<char*>("dbus-run-session"), const_cast<char*>("--")};
    for (int i = 0; i < argc; ++i)
      args.push_back(argv[i]);
    args.push_back(nullptr);
    execvp("dbus-run-session", args.data());
    std::fprintf(stderr, "bench-link: cannot start dbus-run-session: %s\n", std::strerror(errno));
    return 1;
  }

  int report[2];
  int life[2];
  if (pipe(report) != 0 || pipe(life) != 0)
    return 1;
  std::vector<pid_t> children;
  for (int i = 0; i < kPeers; ++i) {
    const pid_t child = fork();
    if (child == 0) {
      close(report[0]);
      close(life[1]);
      RunPeer(report[1], life[0]);
    }
    children.push_back(child);
  }
  close(report[1]);
  close(life[0]);
  std::vector<WindowHandle> peers;
  for (int i = 0; i < kPeers; ++i) {
    WindowHandle handle = 0;
    if (read(report[0], &handle, sizeof handle) != sizeof handle || handle == 0) {
      std::fprintf(stderr, "bench-link: a peer program did not come up\n");
      return 1;
    }
    peers.push_back(handle);
  }

  auto desktop = SdBusDesktop::Open("TCV_AudioMixer");
  if (!desktop->Connected()) {
    std::fprintf(stderr, "bench-link: %s\n", desktop->ErrorText().c_str());
    return 1;
  }
  const WindowHandle own = desktop->OwnWindow();
  const WindowHandle target = peers.front();
  const auto packet = calvora::link::AudioBlockHeader{48000, 2, 16, -12.0, -12.5}.Pack(
      std::vector<uint8_t>(kBlockBytes, 0x11));

  // Baseline: the bus's own ping to the same program, on a plain connection.
  sd_bus* plain = nullptr;
  sd_bus_open_user(&plain);
  const std::string targetName = ":1." + std::to_string(target - 1);
  const Figures ping = Measure([&] {
    sd_bus_call_method(plain, targetName.c_str(), "/", "org.freedesktop.DBus.Peer", "Ping", nullptr,
                       nullptr, "");
  });
  const Figures message =
      Measure([&] { desktop->SendMessage(target, calvora::link::WM_WINMSG, own, 0x7FFF7FFF); });
  const Figures data = Measure([&] { desktop->SendData(target, own, 0, packet); });
  sd_bus_flush_close_unref(plain);

  std::printf("bench-link: round trips through the session bus, %d rounds each\n", kRounds);
  std::printf("  bus ping (baseline)        median %8.1f us   p99 %8.1f us\n", ping.median,
              ping.p99);
  std::printf("  SendMessage                median %8.1f us   p99 %8.1f us   x%.2f of ping\n",
              message.median, message.p99, message.median / ping.median);
  std::printf("  CopyData, %zu bytes      median %8.1f us   p99 %8.1f us   x%.2f of ping\n",
              packet.size(), data.median, data.p99, data.median / ping.median);

  std::printf("bench-link: sustained audio blocks (%zu bytes each) to every peer\n", packet.size());
  ManualTimers timers;
  for (int count : {1, 4, 16}) {
    TWinMSG channel(*desktop, timers);
    for (int i = 0; i < count; ++i)
      channel.AnnouncePeer(peers[static_cast<std::size_t>(i)]);
    channel.ScanPeers();
    if (static_cast<int>(channel.Peers().size()) != count) {
      std::fprintf(stderr, "bench-link: only %zu of %d peers admitted\n", channel.Peers().size(),
                   count);
      return 1;
    }
    const double start = NowUs();
    int blocks = 0;
    while (NowUs() - start < 1e6) {
      channel.SendDataToPeers(0, 0, packet.data(), packet.size());
      ++blocks;
    }
    const double perSecond = blocks / ((NowUs() - start) / 1e6);
    std::printf(
        "  %2d peer%s %8.0f blocks/s, %8.0f messages/s   x%.1f of the 100 blocks/s needed\n", count,
        count == 1 ? ": " : "s:", perSecond, perSecond * count, perSecond / 100.0);
  }

  close(life[1]);
  for (pid_t child : children)
    waitpid(child, nullptr, 0);
  return 0;
}
