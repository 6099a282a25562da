// Prints the cost of one line volume write through ALSA on the virtual mixer (against the
// same write on an in-memory device, measured in the same run), the cost of the device count
// the mixer check makes twice a second when nothing changed (against a count that lists the
// devices afresh, as the first one does), and how closely the writes of a 2 s fade-out keep
// to their 40 ms rhythm and to the fade's length.
#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "mixer/CVMixer.h"
#include "mixer/MixerXP.h"
#include "platform/alsa/AlsaMixerDevices.h"
#include "platform/posix/PosixClock.h"
#include "platform/qt/QtTimers.h"

namespace {

using namespace calvora;
using Clock = std::chrono::steady_clock;

// One device with one line whose volume is a number in memory: the cost of the tree walk
// and the call alone.
class MemoryMixerDevices : public platform::MixerDevices {
 public:
  uint32_t DeviceCount() override { return 1; }
  platform::Result GetDeviceCaps(uint32_t, platform::MixerDeviceCaps& caps) override {
    caps = {"Memory", 1};
    return 0;
  }
  platform::Result GetDestinationLine(uint32_t, uint32_t, platform::MixerLineInfo& line) override {
    line = {"Playback", 1, 4, 2, 0, 1};
    return 0;
  }
  platform::Result GetSourceLine(uint32_t, uint32_t, uint32_t, platform::MixerLineInfo&) override {
    return 1;
  }
  platform::Result GetLineControls(uint32_t, uint32_t, uint32_t,
                                   std::vector<platform::MixerControlInfo>& controls) override {
    controls = {{1, platform::kMixerControlVolume, 0}};
    return 0;
  }
  platform::Result GetControlValue(uint32_t, uint32_t, uint32_t& value) override {
    value = volume;
    return 0;
  }
  platform::Result SetControlValue(uint32_t, uint32_t, uint32_t value) override {
    volume = value;
    return 0;
  }
  uint32_t volume = 0;
};

// Passes everything on and notes when each volume write was made.
class TimingMixerDevices : public platform::alsa::AlsaMixerDevices {
 public:
  platform::Result SetControlValue(uint32_t device, uint32_t controlId, uint32_t value) override {
    times.push_back(Clock::now());
    return AlsaMixerDevices::SetControlValue(device, controlId, value);
  }
  std::vector<Clock::time_point> times;
};

double MicrosecondsPerWrite(int32_t device, int32_t line, int writes) {
  const auto start = Clock::now();
  for (int i = 0; i < writes; ++i)
    mixer::SetLineVolume(device, 0, line, (i * 997) % 65536, false);
  const std::chrono::duration<double, std::micro> spent = Clock::now() - start;
  return spent.count() / writes;
}

int32_t FindVirtualMixer() {
  for (int32_t device = 0; device < mixer::MixerDeviceCount(); ++device)
    if (mixer::MixerDeviceName(device) == "Calvora Virtual Mixer")
      return device;
  return -1;
}

// The virtual mixer's state directory, removed however the run ends.
struct StateDirectory {
  ~StateDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  std::string path;
};

// Microseconds per DeviceCount: on a fresh device object each time (a full listing), or
// repeated on one object where nothing changes. `found` is the number of devices counted.
double MicrosecondsPerCount(bool fresh, int counts, uint32_t& found) {
  platform::alsa::AlsaMixerDevices kept;
  kept.DeviceCount();
  uint32_t sum = 0;
  const auto start = Clock::now();
  for (int i = 0; i < counts; ++i) {
    if (fresh) {
      platform::alsa::AlsaMixerDevices devices;
      sum += devices.DeviceCount();
    } else {
      sum += kept.DeviceCount();
    }
  }
  const std::chrono::duration<double, std::micro> spent = Clock::now() - start;
  found = sum / static_cast<uint32_t>(counts);
  return spent.count() / counts;
}

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  setenv("ALSA_CONFIG_PATH", "/usr/share/alsa/alsa.conf:" CALVORA_VIRTUAL_CARD_CONF, 1);
  char pattern[] = "/tmp/calvora-bench-mixer-XXXXXX";
  if (mkdtemp(pattern) == nullptr)
    return 1;
  const StateDirectory state{pattern};
  setenv("CALVORA_VIRTUAL_CARD_DIR", pattern, 1);
  const int writes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2000;

  // The baseline: the same write on a device in memory.
  MemoryMixerDevices memory;
  mixer::LoadMixerDevices(memory);
  mixer::LoadMixerLines();
  const double baseline = MicrosecondsPerWrite(0, 0, writes * 100);

  platform::alsa::AlsaMixerDevices alsa;
  mixer::LoadMixerDevices(alsa);
  mixer::LoadMixerLines();
  const int32_t device = FindVirtualMixer();
  if (device < 0) {
    std::fprintf(stderr, "bench-mixer: the virtual mixer is not there\n");
    return 1;
  }
  const double alsaWrite = MicrosecondsPerWrite(device, 1, writes);
  std::printf("SetLineVolume, in memory (baseline): %10.3f us\n", baseline);
  std::printf("SetLineVolume, ALSA virtual mixer:   %10.3f us  (%.0f x baseline, %d writes)\n",
              alsaWrite, alsaWrite / baseline, writes);
  mixer::FreeMixerDevices();

  // With the virtual card, whose devices are opened on every count, and with the desktop's
  // configuration alone, where a count that finds nothing changed opens nothing.
  const int counts = std::max(10, writes / 4);
  for (const bool virtualCard : {true, false}) {
    if (!virtualCard)
      unsetenv("ALSA_CONFIG_PATH");
    uint32_t found = 0;
    const double fullCount = MicrosecondsPerCount(true, counts, found);
    const double keptCount = MicrosecondsPerCount(false, counts * 4, found);
    std::printf("DeviceCount, %s, %u devices\n",
                virtualCard ? "virtual card" : "desktop configuration only", found);
    std::printf("  listing afresh (baseline): %8.1f us\n", fullCount);
    std::printf("  nothing changed:           %8.1f us  (%.3f x baseline)\n", keptCount,
                keptCount / fullCount);
  }
  setenv("ALSA_CONFIG_PATH", "/usr/share/alsa/alsa.conf:" CALVORA_VIRTUAL_CARD_CONF, 1);

  // A 2 s fade-out of one line with the real clock and main-loop timers.
  TimingMixerDevices timed;
  platform::posix::PosixClock clock;
  platform::qt::QtTimers timers;
  mixer::TCVMixer controller(timed, clock, timers);
  controller.SetActive(true);
  const auto id = controller.AddLine(0, FindVirtualMixer(), 0, 1);
  if (id < 0) {
    std::fprintf(stderr, "bench-mixer: the virtual mixer's PCM line cannot be controlled\n");
    return 1;
  }
  controller.StoreLevel(id, 40000);
  controller.FadeTo(id, 40000, 0);
  timed.times.clear();
  const auto start = Clock::now();
  controller.FadeOutGroup(0, true, 2.0);
  while (controller.FindLine(id)->Fader->Active && Clock::now() - start < std::chrono::seconds(20))
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  const auto end = Clock::now();
  // The first two writes start the fade and the last two end it; the rest are the line ticks.
  std::vector<double> gaps;
  for (size_t i = 3; i + 2 < timed.times.size(); ++i)
    gaps.push_back(Ms(timed.times[i] - timed.times[i - 1]));
  std::sort(gaps.begin(), gaps.end());
  const double median = gaps.empty() ? 0 : gaps[gaps.size() / 2];
  const double worst = gaps.empty() ? 0 : gaps.back();
  std::printf("Fade 2 s: %zu line writes, gap median %.2f ms, worst %.2f ms (target 40 ms)\n",
              gaps.size() + 1, median, worst);
  // The fade ends with its last write, the mute.
  const double ended = timed.times.empty() ? Ms(end - start) : Ms(timed.times.back() - start);
  std::printf("Fade 2 s: ended after %.1f ms (error %+.1f ms)\n", ended, ended - 2000.0);
  return 0;
}
