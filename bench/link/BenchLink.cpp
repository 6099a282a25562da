// bench-link: the cost of the command channel on a session bus, on a private bus of its own.
// Prints
//   - the median round trip of one window message and of one 1942-byte data message (a
//     10 ms block of 48 kHz 16-bit stereo with its header), beside the bus's own ping to
//     the same program as the baseline;
//   - the cost of one peer scan with 0, 100 and 10,000 unrelated names on the bus, against
//     the cost with none, beside what listing the whole bus costs at each size;
//   - the utility's CPU while it sends 100 audio blocks a second to 16 peers, posted as the
//     channel does and, for comparison, waiting for each answer, against the same loop
//     with no peer.
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
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

// A program that owns unrelated names: each number read from the pipe is the count of
// names it should own by then; it writes one byte back when it does.
[[noreturn]] void RunNameOwner(int commandFd, int doneFd) {
  sd_bus* bus = nullptr;
  if (sd_bus_open_user(&bus) < 0)
    _exit(1);
  int owned = 0;
  int wanted = 0;
  while (read(commandFd, &wanted, sizeof wanted) == sizeof wanted) {
    for (; owned < wanted; ++owned) {
      const std::string name = "org.example.Unrelated.N" + std::to_string(owned);
      sd_bus_request_name(bus, name.c_str(), 0);
    }
    const char done = 1;
    if (write(doneFd, &done, 1) != 1)
      _exit(1);
  }
  _exit(0);
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Figures {
  double median = 0;
  double p99 = 0;
};

Figures Measure(const std::function<void()>& round, int rounds = kRounds) {
  for (int i = 0; i < 10; ++i)
    round();  // warm-up
  std::vector<double> us;
  us.reserve(static_cast<std::size_t>(rounds));
  for (int i = 0; i < rounds; ++i) {
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

  std::printf("bench-link: round trips through the session bus, %d rounds each\n", kRounds);
  std::printf("  bus ping (baseline)        median %8.1f us   p99 %8.1f us\n", ping.median,
              ping.p99);
  std::printf("  SendMessage                median %8.1f us   p99 %8.1f us   x%.2f of ping\n",
              message.median, message.p99, message.median / ping.median);
  std::printf("  CopyData, %zu bytes      median %8.1f us   p99 %8.1f us   x%.2f of ping\n",
              packet.size(), data.median, data.p99, data.median / ping.median);

  // The scan, fed by the followed names, against the names on the bus.
  int ownerCommand[2];
  int ownerDone[2];
  if (pipe(ownerCommand) != 0 || pipe(ownerDone) != 0)
    return 1;
  const pid_t nameOwner = fork();
  if (nameOwner == 0) {
    close(ownerCommand[1]);
    close(ownerDone[0]);
    RunNameOwner(ownerCommand[0], ownerDone[1]);
  }
  children.push_back(nameOwner);
  close(ownerCommand[0]);
  close(ownerDone[1]);
  ManualTimers timers;
  std::printf("bench-link: one peer scan (%d peers) against unrelated names on the bus\n", kPeers);
  double scanBaseline = 0;
  for (int names : {0, 100, 10000}) {
    char done = 0;
    if (write(ownerCommand[1], &names, sizeof names) != sizeof names ||
        read(ownerDone[0], &done, 1) != 1) {
      std::fprintf(stderr, "bench-link: the name owner did not answer\n");
      return 1;
    }
    TWinMSG channel(*desktop, timers);
    for (WindowHandle peer : peers)
      channel.AnnouncePeer(peer);
    const Figures scan = Measure([&] { channel.ScanPeers(); });
    if (channel.Peers().size() != peers.size()) {
      std::fprintf(stderr, "bench-link: only %zu of %zu peers admitted\n", channel.Peers().size(),
                   peers.size());
      return 1;
    }
    const Figures listing = Measure(
        [&] {
          sd_bus_message* reply = nullptr;
          sd_bus_call_method(plain, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                             "org.freedesktop.DBus", "ListNames", nullptr, &reply, "");
          sd_bus_message_unref(reply);
        },
        names > 1000 ? 100 : kRounds);
    if (names == 0)
      scanBaseline = scan.median;
    std::printf(
        "  %5d names: scan median %7.2f us  p99 %7.2f us  x%.2f of none;"
        "  listing the whole bus once %9.1f us\n",
        names, scan.median, scan.p99, scan.median / scanBaseline, listing.median);
  }
  close(ownerCommand[1]);
  sd_bus_flush_close_unref(plain);

  // The utility's CPU with the peers at 100 blocks a second, as the capture delivers them.
  std::printf("bench-link: the utility's CPU sending 100 blocks/s of %zu bytes for 3 s\n",
              packet.size());
  const auto cpuAt100PerSecond = [&](const std::function<void()>& sendBlock) {
    const double startWall = NowUs();
    const double startCpu = CpuSeconds();
    for (int block = 1; block <= 300; ++block) {
      sendBlock();
      // The main loop between blocks: answers, replies and the deadlines of the bus.
      const double next = startWall + block * 10000.0;
      for (double now = NowUs(); now < next; now = NowUs())
        desktop->WaitAndProcess(static_cast<int32_t>((next - now) / 1000) + 1);
    }
    return 100.0 * (CpuSeconds() - startCpu) / ((NowUs() - startWall) / 1e6);
  };
  TWinMSG channel(*desktop, timers);
  const double idle =
      cpuAt100PerSecond([&] { channel.SendDataToPeers(0, 0, packet.data(), packet.size()); });
  for (WindowHandle peer : peers)
    channel.AnnouncePeer(peer);
  channel.ScanPeers();
  const double posted =
      cpuAt100PerSecond([&] { channel.SendDataToPeers(0, 0, packet.data(), packet.size()); });
  const std::size_t keptUp = channel.Peers().size();
  const double waiting = cpuAt100PerSecond([&] {
    for (WindowHandle peer : peers)
      desktop->SendData(peer, own, 0, packet);
  });
  std::printf("  no peer (baseline)             %6.2f %% of a core\n", idle);
  std::printf("  %d peers, posted               %6.2f %% of a core   x%.1f of the baseline\n",
              kPeers, posted, posted / std::max(idle, 0.01));
  std::printf("  %d peers, waiting for answers  %6.2f %% of a core   x%.1f of the baseline\n",
              kPeers, waiting, waiting / std::max(idle, 0.01));
  if (keptUp != peers.size())
    std::printf("  (only %zu of %d peers kept up with the posts)\n", keptUp, kPeers);

  close(life[1]);
  for (pid_t child : children)
    waitpid(child, nullptr, 0);
  return 0;
}
