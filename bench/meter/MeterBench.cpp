// Prints how often the LED meter repaints its image against how often it is drawn (once per
// captured block, 100 times a second) and against how often an LED really changed, for ten
// seconds of a steady tone and ten seconds of changing levels, as `key=value` lines.
#include <QGuiApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

#include "meter/LedMetter.h"
#include "ui/qt/ImageCanvas.h"

namespace {

using namespace calvora;

constexpr int kDraws = 1000;  // ten seconds of 10 ms blocks

std::vector<uint8_t> ShownStates() {
  std::vector<uint8_t> states;
  for (const auto& row : meter::Meters[0].Segments)
    for (const auto& led : row)
      states.push_back(led.Shown);
  return states;
}

// Draws the levels one by one; prints the draws, the repaints, the draws that changed an LED
// and the time per draw under `name`.
void Run(const char* name, const std::vector<double>& levels) {
  ui::qt::ImageCanvas image(426, 26);
  int repaints = 0;
  image.onRepaint = [&repaints] { ++repaints; };
  meter::BuildLed(0, image, 0);
  repaints = 0;
  int changed = 0;
  std::chrono::nanoseconds spent{0};
  for (double level : levels) {
    const auto before = ShownStates();
    const double pair[2] = {level, level - 0.5};
    const auto start = std::chrono::steady_clock::now();
    meter::DrawLed(0, image, pair);
    spent += std::chrono::steady_clock::now() - start;
    if (ShownStates() != before)
      ++changed;
  }
  std::printf("%s_draws=%zu\n%s_repaints=%d\n%s_changes=%d\n%s_us_per_draw=%.2f\n", name,
              levels.size(), name, repaints, name, changed, name,
              static_cast<double>(spent.count()) / 1000.0 / static_cast<double>(levels.size()));
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication application(argc, argv);
  std::mt19937 random(14);
  // A -20 dB tone measures within a few hundredths of a dB from block to block.
  std::uniform_real_distribution<double> jitter(-0.03, 0.03);
  std::vector<double> steady;
  for (int i = 0; i < kDraws; ++i)
    steady.push_back(-20.0 + jitter(random));
  // Programme material: the level wanders between -40 and -1 dB by up to 3 dB a block.
  std::uniform_real_distribution<double> step(-3.0, 3.0);
  std::vector<double> changing;
  double level = -20.0;
  for (int i = 0; i < kDraws; ++i) {
    level = std::min(-1.0, std::max(-40.0, level + step(random)));
    changing.push_back(level);
  }
  Run("steady", steady);
  Run("changing", changing);
  return 0;
}
