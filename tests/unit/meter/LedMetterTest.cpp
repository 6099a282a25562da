#include "meter/LedMetter.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <vector>

#include "VirtualUi.h"
#include "ui/qt/ImageCanvas.h"

namespace calvora::meter {
namespace {

using ui::Color;
using ui::Rect;

// Records what the meter paints, for the paint-count and layout checks.
using RecordingCanvas = testing::VirtualCanvas;

constexpr Color kGreen{0, 128, 0};
constexpr Color kLime{0, 255, 0};
constexpr Color kMaroon{128, 0, 0};
constexpr Color kWhite{255, 255, 255};
constexpr Color kBlack{0, 0, 0};

// The dB values lit on row `row` of meter 0, from the recorded Shown states.
std::vector<int> LitValues(int row = 0) {
  const TLed& led = Meters[0];
  const int range = LedRanges[static_cast<size_t>(led.Style)];
  std::vector<int> lit;
  const auto& segments = led.Segments[static_cast<size_t>(row)];
  for (size_t i = 0; i < segments.size(); ++i)
    if (segments[i].Shown != kLedUnlit)
      lit.push_back(static_cast<int>(i) - range);
  return lit;
}

void Draw(ui::Canvas& canvas, double left, double right) {
  const double levels[2] = {left, right};
  DrawLed(0, canvas, levels);
}

TEST(LedMetter, LayoutOf426By26OnThe24And90dBScales) {
  RecordingCanvas canvas(426, 26);
  BuildLed(0, canvas, 0);
  ASSERT_EQ(Meters[0].Segments[0].size(), 25u);
  ASSERT_EQ(Meters[0].Segments[1].size(), 25u);
  // Step 17.04: LED 1 starts at 17, LED 2 at 34, each with a 1-pixel gap on its right.
  EXPECT_EQ(Meters[0].Segments[0][0].LedRect, (Rect{0, 1, 16, 8}));
  EXPECT_EQ(Meters[0].Segments[0][1].LedRect, (Rect{17, 1, 33, 8}));
  EXPECT_EQ(Meters[0].Segments[1][2].LedRect, (Rect{34, 19, 50, 26}));
  EXPECT_EQ(Meters[0].Segments[0][24].LedRect, (Rect{408, 1, 425, 8}));

  BuildLed(0, canvas, 3);
  ASSERT_EQ(Meters[0].Segments[0].size(), 91u);
  // Step 4.68: LED 10 starts at Trunc(46.8).
  EXPECT_EQ(Meters[0].Segments[0][10].LedRect, (Rect{46, 1, 50, 8}));
  EXPECT_EQ(Meters[0].Segments[1][90].LedRect, (Rect{421, 19, 425, 26}));
}

TEST(LedMetter, LabelsPerScale) {
  struct Expected {
    int Style;
    std::vector<std::string> Labels;
  };
  const std::vector<Expected> cases = {
      {0, {"-24", "-20", "-12", "-3"}},
      {1, {"-41", "-41", "-20", "-12", "-3"}},
      {2, {"-60", "-60", "-41", "-20", "-12", "-3"}},
      {3, {"-90", "-60", "-41", "-20", "-12", "-3"}},
  };
  for (const auto& c : cases) {
    RecordingCanvas canvas(426, 26);
    BuildLed(0, canvas, c.Style);
    std::vector<std::string> labels;
    for (const auto& t : canvas.texts) {
      labels.push_back(t.text);
      EXPECT_EQ(t.y, 7);
      EXPECT_EQ(t.color, (t.text == "-3" ? Color{255, 0, 0} : kLime));
    }
    EXPECT_EQ(labels, c.Labels) << "style " << c.Style;
  }
}

TEST(LedMetter, ColoursAndBlends) {
  RecordingCanvas canvas(426, 26);
  BuildLed(0, canvas, 0);
  const auto& row = Meters[0].Segments[0];
  auto at = [&](int d) { return row[static_cast<size_t>(d + 24)]; };
  EXPECT_EQ(at(-15).OffColor, kGreen);
  EXPECT_EQ(at(-15).OnColor, kLime);
  EXPECT_EQ(at(-14).OffColor, (Color{18, 128, 0}));
  EXPECT_EQ(at(-14).OnColor, (Color{36, 255, 0}));
  EXPECT_EQ(at(-11).OffColor, (Color{73, 128, 0}));
  EXPECT_EQ(at(-11).OnColor, (Color{145, 255, 0}));
  EXPECT_EQ(at(-8).OnColor, (Color{255, 255, 0}));
  EXPECT_EQ(at(-6).OffColor, (Color{128, 128, 0}));
  EXPECT_EQ(at(-4).OffColor, (Color{128, 96, 0}));
  EXPECT_EQ(at(-4).OnColor, (Color{255, 191, 0}));
  EXPECT_EQ(at(-2).OnColor, (Color{255, 63, 0}));
  EXPECT_EQ(at(-1).OffColor, kMaroon);
  EXPECT_EQ(at(-1).OnColor, (Color{255, 0, 0}));
  EXPECT_EQ(at(0).OffColor, kMaroon);
  EXPECT_EQ(BlendColor(kGreen, kWhite, 3, 0), kGreen);
}

TEST(LedMetter, WhichLedsALevelLights) {
  RecordingCanvas canvas(426, 26);
  BuildLed(0, canvas, 0);
  EXPECT_TRUE(LitValues().empty());

  Draw(canvas, -20.5, -21.05);
  EXPECT_EQ(LitValues(0).back(), -20);
  EXPECT_EQ(LitValues(0).size(), 5u);  // -24 to -20
  EXPECT_EQ(LitValues(1).back(), -20);

  Draw(canvas, -21.2, -1.1);
  EXPECT_EQ(LitValues(0).back(), -21);
  EXPECT_EQ(LitValues(1).back(), -1);
  EXPECT_EQ(Meters[0].Segments[1][24].Shown, kLedUnlit);

  Draw(canvas, -1.09, -0.000265);
  EXPECT_EQ(LitValues(0).size(), 25u);
  EXPECT_EQ(Meters[0].Segments[0][24].Shown, kLedWhite);
  EXPECT_EQ(Meters[0].Segments[1][24].Shown, kLedWhite);

  // Digital silence: only the leftmost LED of the 90 dB scale; -100 lights nothing.
  Draw(canvas, -90.3, -100);
  EXPECT_TRUE(LitValues(0).empty());
  BuildLed(0, canvas, 3);
  Draw(canvas, -90.3, -100);
  EXPECT_EQ(LitValues(0), std::vector<int>{-90});
  EXPECT_TRUE(LitValues(1).empty());
  // A level that is not a number lights nothing.
  Draw(canvas, NAN, 5);
  EXPECT_TRUE(LitValues(0).empty());
  EXPECT_EQ(LitValues(1).size(), 91u);
}

TEST(LedMetter, PaintsAndRepaintsOnlyWhenAnLedChanges) {
  RecordingCanvas canvas(426, 26);
  BuildLed(0, canvas, 0);
  // The build paints the black background and every LED unlit, then repaints.
  ASSERT_EQ(canvas.rects.size(), 1u + 50u);
  EXPECT_EQ(canvas.rects[0].color, kBlack);
  EXPECT_EQ(canvas.repaints, 1);

  canvas.rects.clear();
  // -20 dB lights up to -19 (it is above -19 - 1.1), -3 dB up to -2.
  Draw(canvas, -20, -3);
  EXPECT_EQ(canvas.rects.size(), 6u + 23u);
  canvas.rects.clear();
  const int locks = canvas.paints;
  EXPECT_EQ(canvas.repaints, 2);
  // Levels that change no LED neither lock nor repaint the canvas.
  Draw(canvas, -20, -3);
  Draw(canvas, -19.95, -2.5);
  EXPECT_TRUE(canvas.rects.empty());
  EXPECT_EQ(canvas.paints, locks);
  EXPECT_EQ(canvas.repaints, 2);

  // One changed LED: one lock, one repaint.
  Draw(canvas, -19, -3);
  ASSERT_EQ(canvas.rects.size(), 1u);
  EXPECT_EQ(canvas.rects[0].rect, Meters[0].Segments[0][6].LedRect);
  EXPECT_EQ(canvas.paints, locks + 1);
  EXPECT_EQ(canvas.repaints, 3);
}

TEST(LedMetter, StylesAndMeterIndices) {
  RecordingCanvas canvas(426, 26);
  SetLedStyle(0, canvas, 2);
  EXPECT_EQ(LedStyle(0), 2);
  SetLedStyle(0, canvas, LedStyle(0) + 1);
  EXPECT_EQ(LedStyle(0), 3);
  SetLedStyle(0, canvas, LedStyle(0) + 1);
  EXPECT_EQ(LedStyle(0), 0);
  BuildLed(0, canvas, -2);
  EXPECT_EQ(LedStyle(0), 0);
  EXPECT_EQ(LedStyle(5), -1);
  EXPECT_EQ(LedStyle(-1), -1);

  // Meters outside the table are left alone; an unbuilt meter only repaints.
  canvas.rects.clear();
  BuildLed(5, canvas, 0);
  SetLedStyle(-1, canvas, 0);
  Draw(canvas, 0, 0);
  const double levels[2] = {0, 0};
  DrawLed(7, canvas, levels);
  const int repaints = canvas.repaints;
  DrawLed(4, canvas, levels);
  EXPECT_EQ(canvas.repaints, repaints + 1);
  EXPECT_EQ(canvas.rects.size(), 50u);
}

// The meter drawn into a real image: colours read back at the LED centres.
class LedMetterImage : public ::testing::Test {
 protected:
  static QRgb Centre(const ui::qt::ImageCanvas& canvas, int row, int index) {
    const Rect r = Meters[0].Segments[static_cast<size_t>(row)][static_cast<size_t>(index)].LedRect;
    return canvas.Image().pixel((r.Left + r.Right - 1) / 2, (r.Top + r.Bottom - 1) / 2);
  }
  static QRgb Rgb(Color c) { return qRgb(c.R, c.G, c.B); }
};

TEST_F(LedMetterImage, ColoursAtLedCentresOnEveryScale) {
  ui::qt::ImageCanvas canvas(426, 26);
  for (int style = 0; style < kStyleCount; ++style) {
    BuildLed(0, canvas, style);
    const int range = LedRanges[static_cast<size_t>(style)];
    Draw(canvas, -9.5, 0.5);
    for (int i = 0; i <= range; ++i) {
      const LedSegment& led = Meters[0].Segments[0][static_cast<size_t>(i)];
      const int d = i - range;
      EXPECT_EQ(Centre(canvas, 0, i), Rgb(d <= -9 ? led.OnColor : led.OffColor))
          << "style " << style << " dB " << d;
      EXPECT_EQ(Centre(canvas, 1, i), Rgb(d == 0 ? kWhite : led.OnColor));
    }
    // The gap right of each LED and the label band stay black (labels aside).
    const Rect first = Meters[0].Segments[0][0].LedRect;
    EXPECT_EQ(canvas.Image().pixel(first.Right, 4), Rgb(kBlack));
    EXPECT_EQ(canvas.Image().pixel(first.Left, 0), Rgb(kBlack));
  }
  BuildLed(0, canvas, 0);
  EXPECT_EQ(Centre(canvas, 0, 0), Rgb(kGreen));
  EXPECT_EQ(Centre(canvas, 1, 24), Rgb(kMaroon));
  Draw(canvas, -12.3, -4.2);
  EXPECT_EQ(Centre(canvas, 0, 12), Rgb({109, 255, 0}));  // -12 lit
  EXPECT_EQ(Centre(canvas, 0, 13), Rgb({73, 128, 0}));   // -11 unlit
  EXPECT_EQ(Centre(canvas, 1, 20), Rgb({255, 191, 0}));  // -4 lit
  EXPECT_EQ(Centre(canvas, 1, 21), Rgb({128, 64, 0}));   // -3 unlit
}

TEST_F(LedMetterImage, LeavesAPictureInTheBuildFolder) {
  ui::qt::ImageCanvas canvas(426, 26);
  BuildLed(0, canvas, 1);
  Draw(canvas, -6.4, -0.05);
  // Something was written between the rows: the labels.
  bool labelPixel = false;
  for (int x = 0; x < 426 && !labelPixel; ++x)
    for (int y = 8; y < 19 && !labelPixel; ++y)
      labelPixel = canvas.Image().pixel(x, y) != Rgb(kBlack);
  EXPECT_TRUE(labelPixel);
  EXPECT_TRUE(canvas.Image().save(CALVORA_METER_PNG));
}

}  // namespace
}  // namespace calvora::meter

int main(int argc, char** argv) {
  // No display is needed, also when the test runner lists the tests.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
