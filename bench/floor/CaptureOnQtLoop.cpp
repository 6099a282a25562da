// The least a Qt program pays to capture a device on its main loop: the baseline against which
// bench/run-all sets the program's own work per block. A QApplication with a window, as the
// program has, watches the device's poll descriptor with a QSocketNotifier and reads each
// period where it is due, with the program's 10 ms periods and 16 of them in ALSA's buffer.
// With --bus it also sends every period to the session bus as a signal of the size of the
// program's block message, which is what a block to one peer costs on the wire.
//
//   capture-on-qt-loop DEVICE [--bus]
#include <alsa/asoundlib.h>
#include <poll.h>
#include <systemd/sd-bus.h>

#include <QApplication>
#include <QSocketNotifier>
#include <QWidget>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr unsigned kRate = 48000;
constexpr unsigned kChannels = 2;
constexpr snd_pcm_uframes_t kPeriod = kRate / 100;
constexpr snd_pcm_uframes_t kPeriods = 16;

snd_pcm_t* OpenDevice(const char* device) {
  snd_pcm_t* pcm = nullptr;
  if (snd_pcm_open(&pcm, device, SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK) < 0)
    return nullptr;
  snd_pcm_uframes_t period = kPeriod;
  snd_pcm_uframes_t buffer = kPeriod * kPeriods;
  snd_pcm_hw_params_t* hw = nullptr;
  snd_pcm_hw_params_alloca(&hw);
  int dir = 0;
  if (snd_pcm_hw_params_any(pcm, hw) < 0 ||
      snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED) < 0 ||
      snd_pcm_hw_params_set_format(pcm, hw, SND_PCM_FORMAT_S16_LE) < 0 ||
      snd_pcm_hw_params_set_channels(pcm, hw, kChannels) < 0 ||
      snd_pcm_hw_params_set_rate(pcm, hw, kRate, 0) < 0 ||
      snd_pcm_hw_params_set_period_size_near(pcm, hw, &period, &dir) < 0 ||
      snd_pcm_hw_params_set_buffer_size_near(pcm, hw, &buffer) < 0 ||
      snd_pcm_hw_params(pcm, hw) < 0 || snd_pcm_start(pcm) < 0) {
    snd_pcm_close(pcm);
    return nullptr;
  }
  return pcm;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: capture-on-qt-loop DEVICE [--bus]\n");
    return 2;
  }
  snd_pcm_t* pcm = OpenDevice(argv[1]);
  if (!pcm) {
    std::fprintf(stderr, "capture-on-qt-loop: cannot record from %s\n", argv[1]);
    return 1;
  }
  sd_bus* bus = nullptr;
  if (argc > 2 && std::strcmp(argv[2], "--bus") == 0 && sd_bus_open_user(&bus) < 0) {
    std::fprintf(stderr, "capture-on-qt-loop: no session bus\n");
    return 1;
  }
  QWidget window;
  window.resize(440, 200);
  window.show();

  pollfd descriptor{};
  snd_pcm_poll_descriptors(pcm, &descriptor, 1);
  // The block message carries a 22-byte header before the samples.
  constexpr size_t kHeaderBytes = 22;
  std::vector<char> period(kPeriod * kChannels * 2 + kHeaderBytes);
  QSocketNotifier notifier(descriptor.fd, QSocketNotifier::Read);
  QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
    descriptor.revents = POLLIN;
    unsigned short revents = 0;
    snd_pcm_poll_descriptors_revents(pcm, &descriptor, 1, &revents);
    if ((revents & POLLIN) == 0)
      return;
    for (;;) {
      const snd_pcm_sframes_t got = snd_pcm_readi(pcm, period.data(), kPeriod);
      if (got == -EPIPE) {
        snd_pcm_prepare(pcm);
        snd_pcm_start(pcm);
        continue;
      }
      if (got <= 0)
        return;
      if (!bus)
        continue;
      sd_bus_message* message = nullptr;
      if (sd_bus_message_new_signal(bus, &message, "/org/calvora/Floor", "org.calvora.Floor",
                                    "Block") >= 0 &&
          sd_bus_message_append(message, "uu", 0u, 0u) >= 0 &&
          sd_bus_message_append_array(message, 'y', period.data(),
                                      static_cast<size_t>(got) * kChannels * 2 + kHeaderBytes) >= 0)
        sd_bus_send(bus, message, nullptr);
      sd_bus_message_unref(message);
    }
  });
  const int status = QApplication::exec();
  snd_pcm_close(pcm);
  sd_bus_flush_close_unref(bus);
  return status;
}
