#include "meter/LedMetter.h"

#include <cmath>
#include <string>

namespace calvora::meter {

std::array<TLed, kMeterCount> Meters;

namespace {

using ui::Color;
namespace colors = ui::colors;

bool ValidMeter(int meter) {
  return meter >= 0 && meter < kMeterCount;
}

uint8_t Component(uint8_t from, uint8_t to, int position, int steps) {
  const double value = std::trunc((static_cast<double>(to) - static_cast<double>(from)) /
                                      static_cast<double>(steps) * static_cast<double>(position) +
                                  static_cast<double>(from));
  if (value <= 0)
    return 0;
  if (value >= 255)
    return 255;
  return static_cast<uint8_t>(value);
}

// Unlit and lit colour of the LED standing for d dB: green up to -15, through olive and
// yellow to maroon and red near full scale.
void LedColors(int d, LedSegment& led) {
  if (d <= -15) {
    led.OffColor = colors::kGreen;
    led.OnColor = colors::kLime;
  } else if (d <= -8) {
    led.OffColor = BlendColor(colors::kGreen, colors::kOlive, d + 15, 7);
    led.OnColor = BlendColor(colors::kLime, colors::kYellow, d + 15, 7);
  } else if (d <= -6) {
    led.OffColor = colors::kOlive;
    led.OnColor = colors::kYellow;
  } else if (d <= -1) {
    led.OffColor = BlendColor(colors::kOlive, colors::kMaroon, d + 5, 4);
    led.OnColor = BlendColor(colors::kYellow, colors::kRed, d + 5, 4);
  } else {
    // A lit 0 dB LED is always drawn white.
    led.OffColor = colors::kMaroon;
    led.OnColor = colors::kWhite;
  }
}

void DrawLabels(ui::Canvas& image, int i, int d, int range, int x, int labelTop) {
  if (i == 0)
    image.DrawText(x, labelTop, std::to_string(-range), colors::kLime);
  switch (d) {
    case -60:
    case -41:
    case -20:
    case -12:
      image.DrawText(x, labelTop, std::to_string(d), colors::kLime);
      break;
    case -3:
      image.DrawText(x, labelTop, "-3", colors::kRed);
      break;
    default:
      break;
  }
}

}  // namespace

Color BlendColor(Color from, Color to, int position, int steps) {
  if (steps < 1)
    return from;
  return {Component(from.R, to.R, position, steps), Component(from.G, to.G, position, steps),
          Component(from.B, to.B, position, steps)};
}

void BuildLed(int meter, ui::Canvas& image, int style) {
  if (!ValidMeter(meter))
    return;
  if (style < 0 || style >= kStyleCount)
    style = 0;
  const int range = LedRanges[static_cast<size_t>(style)];
  const double step = static_cast<double>(image.Width()) / (range + 1);
  TLed& led = Meters[static_cast<size_t>(meter)];
  led.Style = style;

  image.BeginPaint();
  image.FillRect({0, 0, image.Width(), image.Height()}, colors::kBlack);
  const int labelTop = image.Height() / 2 - 6;
  for (auto& row : led.Segments)
    row.assign(static_cast<size_t>(range + 1), LedSegment{});

  for (int i = 0; i <= range; ++i) {
    const int d = i - range;
    const int x = static_cast<int>(std::trunc(i * step));
    const int right = static_cast<int>(std::trunc((i + 1) * step)) - 1;
    DrawLabels(image, i, d, range, x, labelTop);

    LedSegment& first = led.Segments[0][static_cast<size_t>(i)];
    LedSegment& second = led.Segments[1][static_cast<size_t>(i)];
    first.LedRect = {x, 1, right, labelTop + 1};
    second.LedRect = {x, labelTop + 12, right, image.Height()};
    LedColors(d, first);
    second.OffColor = first.OffColor;
    second.OnColor = first.OnColor;
    // Marked lit so that the draw below paints every LED unlit.
    first.Shown = kLedLit;
    second.Shown = kLedLit;
  }
  image.EndPaint();

  const double nothing[2] = {-100, -100};
  DrawLed(meter, image, nothing);
}

void DrawLed(int meter, ui::Canvas& image, std::span<const double, 2> levels) {
  if (!ValidMeter(meter))
    return;
  TLed& led = Meters[static_cast<size_t>(meter)];
  const int range = LedRanges[static_cast<size_t>(led.Style)];

  // An unbuilt meter only repaints.
  if (led.Segments[0].empty() && led.Segments[1].empty()) {
    image.RepaintNow();
    return;
  }
  // The canvas is locked at the first LED that changes and shown again only if one did: a
  // steady level costs no painting at 100 blocks a second.
  bool painting = false;
  for (size_t c = 0; c < 2; ++c) {
    // The level plus 0.1 dB, cut toward zero to whole dB. A level that is not a number
    // lights nothing.
    const double level = levels[c];
    const double a = std::isnan(level) ? -HUGE_VAL : std::trunc(level + 0.1);
    auto& row = led.Segments[c];
    for (size_t i = 0; i < row.size(); ++i) {
      const int d = static_cast<int>(i) - range;
      uint8_t state = kLedLit;
      if (d > a)
        state = kLedUnlit;
      else if (a >= 0 && d == 0)
        state = kLedWhite;
      LedSegment& segment = row[i];
      if (segment.Shown == state)
        continue;
      segment.Shown = state;
      if (!painting) {
        image.BeginPaint();
        painting = true;
      }
      const Color color = state == kLedUnlit ? segment.OffColor
                          : state == kLedLit ? segment.OnColor
                                             : ui::colors::kWhite;
      image.FillRect(segment.LedRect, color);
    }
  }
  if (!painting)
    return;
  image.EndPaint();
  image.RepaintNow();
}

int32_t LedStyle(int meter) {
  if (!ValidMeter(meter))
    return -1;
  return Meters[static_cast<size_t>(meter)].Style;
}

void SetLedStyle(int meter, ui::Canvas& image, int style) {
  if (!ValidMeter(meter))
    return;
  if (style >= kStyleCount)
    style = 0;
  BuildLed(meter, image, style);
}

}  // namespace calvora::meter
