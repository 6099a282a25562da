#pragma once
// A two-channel LED level meter: two rows of one-dB LEDs on black, first channel on top,
// dB labels between them, the rightmost LED 0 dB. Four scale widths (24, 41, 60, 90 dB).
// It shows the levels it is given, no peak hold, and paints only the LEDs that change; a draw
// that changes no LED neither locks nor repaints the canvas.
#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "ui/Canvas.h"
#include "ui/Color.h"

namespace calvora::meter {

constexpr int kMeterCount = 5;
constexpr int kStyleCount = 4;
// Scale width in dB of each style.
constexpr std::array<int, kStyleCount> LedRanges = {24, 41, 60, 90};

// What an LED last showed.
constexpr uint8_t kLedUnlit = 0;
constexpr uint8_t kLedLit = 1;
constexpr uint8_t kLedWhite = 2;  // the 0 dB LED at full scale

struct LedSegment {
  ui::Rect LedRect;  // right and bottom exclusive
  ui::Color OffColor;
  ui::Color OnColor;
  uint8_t Shown = kLedLit;
};

struct TLed {
  int32_t Style = 0;
  // First channel's row, then the second's; LedRanges[Style] + 1 LEDs each once built.
  std::array<std::vector<LedSegment>, 2> Segments;
};

// The meters of the program, by meter index 0 to kMeterCount - 1; empty until built.
extern std::array<TLed, kMeterCount> Meters;

// Lays meter `meter` out for the canvas's current size with style `style` (an index
// outside 0 to 3 becomes 0), clears the canvas, draws the labels and shows both rows unlit.
void BuildLed(int meter, ui::Canvas& image, int style);
// Shows the first and second channel's level in dB.
void DrawLed(int meter, ui::Canvas& image, std::span<const double, 2> levels);
// The meter's style, or -1 for a meter index outside the table.
int32_t LedStyle(int meter);
// Rebuilds the meter with another style; 4 or more wraps to 0.
void SetLedStyle(int meter, ui::Canvas& image, int style);
// The colour `position` steps of `steps` on the way from `from` to `to`.
ui::Color BlendColor(ui::Color from, ui::Color to, int position, int steps);

}  // namespace calvora::meter
