// Per-block costs on the audio path, each against a plain memcpy of the same 1920-byte
// block (10 ms of 48 kHz stereo) measured in the same run:
//   - a poll that collects, measures, delivers and requeues one block,
//   - one detector Feed,
//   - one meter DrawLed with a typical level change, on a canvas that paints nothing (the
//     meter's own work) and on a QImage (with Qt's painting).
// And the capture-device refresh the sound-card check makes twice a second while the card is
// offline, with nothing changed, against a refresh that lists and probes afresh (the first
// one), on ALSA with the desktop's configuration and the virtual card.
// Usage: bench-audio [iterations]
#include <QGuiApplication>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <vector>

#include "VirtualWaveInput.h"
#include "audio/Silence.h"
#include "audio/WaveCapture.h"
#include "meter/LedMetter.h"
#include "platform/alsa/AlsaWaveInput.h"
#include "ui/qt/ImageCanvas.h"

namespace {

using namespace calvora;
using BenchClock = std::chrono::steady_clock;

constexpr int32_t kRate = 48000;
constexpr int32_t kBlockBytes = 1920;

// Nanoseconds per call of `body`, the best of three rounds.
double NsPerCall(long iterations, const std::function<void(long)>& body) {
  double best = 1e300;
  for (int round = 0; round < 3; ++round) {
    const auto start = BenchClock::now();
    for (long i = 0; i < iterations; ++i)
      body(i);
    const double ns = std::chrono::duration<double, std::nano>(BenchClock::now() - start).count();
    best = std::min(best, ns / static_cast<double>(iterations));
  }
  return best;
}

// A canvas that paints nothing: what is left is the meter's own work.
class NullCanvas : public ui::Canvas {
 public:
  int Width() const override { return 426; }
  int Height() const override { return 26; }
  void BeginPaint() override {}
  void EndPaint() override {}
  void FillRect(const ui::Rect&, ui::Color) override { ++fills; }
  void DrawText(int, int, std::string_view, ui::Color) override {}
  void RepaintNow() override {}
  long fills = 0;
};

// A block of a 1 kHz tone at about -20 dBFS, on both channels.
std::vector<char> ToneBlock() {
  std::vector<char> bytes(kBlockBytes);
  for (int f = 0; f < kBlockBytes / 4; ++f) {
    const auto v = static_cast<int16_t>(std::lround(3277 * std::sin(2 * M_PI * f / 48.0)));
    const auto u = static_cast<uint16_t>(v);
    for (int c = 0; c < 2; ++c) {
      bytes[static_cast<size_t>(f * 4 + c * 2)] = static_cast<char>(u & 0xFF);
      bytes[static_cast<size_t>(f * 4 + c * 2 + 1)] = static_cast<char>(u >> 8);
    }
  }
  return bytes;
}

void Report(const char* what, double ns, double baseline) {
  std::printf("%-44s %10.1f ns  %8.2f x memcpy\n", what, ns, ns / baseline);
}

// Microseconds per capture-device refresh: on a fresh wave input each time (listing and
// probing afresh), or repeated on one where nothing changes.
double MicrosecondsPerRefresh(bool fresh, long refreshes, int32_t& listed) {
  platform::alsa::AlsaWaveInput kept;
  audio::TWaveCapture keptCapture(kept);
  const auto start = BenchClock::now();
  for (long i = 0; i < refreshes; ++i) {
    if (fresh) {
      platform::alsa::AlsaWaveInput input;
      audio::TWaveCapture capture(input);
      listed = capture.DeviceCount();
    } else {
      keptCapture.RefreshDevices();
      listed = keptCapture.DeviceCount();
    }
  }
  return std::chrono::duration<double, std::micro>(BenchClock::now() - start).count() /
         static_cast<double>(refreshes);
}

}  // namespace

int main(int argc, char** argv) {
  const long iterations = argc > 1 ? std::max(1L, std::atol(argv[1])) : 200000;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);

  const std::vector<char> block = ToneBlock();
  std::vector<char> copy(kBlockBytes);
  volatile char sink = 0;

  const double memcpyNs = NsPerCall(iterations, [&](long i) {
    std::memcpy(copy.data(), block.data(), kBlockBytes);
    sink = static_cast<char>(sink + copy[static_cast<size_t>(i % kBlockBytes)]);
  });

  // The capture: one block filled and collected per poll, as at 10 ms per work tick.
  testing::VirtualWaveInput input;
  input.Devices = {{.Name = "Bench"}};
  audio::TWaveCapture capture(input);
  capture.SampleRate = kRate;
  capture.BufferSize = kBlockBytes;
  capture.SetQueueBytes(kBlockBytes * 16);
  long delivered = 0;
  capture.OnData = [&](audio::TWaveCapture&, const char*, int32_t) { ++delivered; };
  capture.Start();
  capture.Poll();
  const double pollNs = NsPerCall(iterations, [&](long) {
    input.FillOldest(block);
    capture.Poll();
  });
  capture.Stop();

  audio::TSilence detector;
  detector.Configure(audio::smSeekSilence, 1e9, -60);
  const double feedNs =
      NsPerCall(iterations, [&](long) { detector.Feed(block.data(), kBlockBytes, kRate); });

  // A level moving by about a dB between blocks, as speech or music does.
  const double levelsA[2] = {-20.3, -18.6};
  const double levelsB[2] = {-18.7, -20.4};
  NullCanvas nullCanvas;
  meter::BuildLed(0, nullCanvas, 0);
  const double drawNs = NsPerCall(
      iterations, [&](long i) { meter::DrawLed(0, nullCanvas, (i & 1) ? levelsA : levelsB); });
  ui::qt::ImageCanvas image(426, 26);
  meter::BuildLed(0, image, 0);
  const long imageIterations = std::max(1L, iterations / 10);
  const double drawImageNs = NsPerCall(
      imageIterations, [&](long i) { meter::DrawLed(0, image, (i & 1) ? levelsA : levelsB); });

  std::printf("bench-audio: %ld iterations, one block = %d bytes (10 ms at %d Hz)\n", iterations,
              kBlockBytes, kRate);
  Report("memcpy of one block (baseline)", memcpyNs, memcpyNs);
  Report("capture poll measuring one block", pollNs, memcpyNs);
  Report("detector Feed of one block", feedNs, memcpyNs);
  Report("meter DrawLed, level change, no painting", drawNs, memcpyNs);
  Report("meter DrawLed, level change, QImage", drawImageNs, memcpyNs);
  std::printf("(blocks delivered %ld, LEDs painted %ld, sink %d)\n", delivered, nullCanvas.fills,
              static_cast<int>(sink));

  char stateDir[] = "/tmp/calvora-bench-audio-XXXXXX";
  if (mkdtemp(stateDir) != nullptr) {
    setenv("CALVORA_VIRTUAL_CARD_DIR", stateDir, 1);
    setenv("ALSA_CONFIG_PATH", "/usr/share/alsa/alsa.conf:" CALVORA_VIRTUAL_CARD_CONF, 1);
    const long refreshes = std::max(2L, iterations / 4000);
    int32_t listedFresh = 0, listedKept = 0;
    const double fresh = MicrosecondsPerRefresh(true, refreshes, listedFresh);
    const double kept = MicrosecondsPerRefresh(false, refreshes * 10, listedKept);
    std::printf("capture-device refresh, afresh (baseline)  %10.1f us  (%d devices)\n", fresh,
                listedFresh);
    std::printf("capture-device refresh, nothing changed    %10.1f us  %8.3f x baseline\n", kept,
                kept / fresh);
    std::filesystem::remove_all(stateDir);
  }
  return delivered > 0 ? 0 : 1;
}
