#pragma once
#include <cstdint>

namespace calvora::ui {

struct Color {
  uint8_t R = 0;
  uint8_t G = 0;
  uint8_t B = 0;
  friend bool operator==(const Color&, const Color&) = default;
};

namespace colors {
constexpr Color kBlack{0, 0, 0};
constexpr Color kWhite{255, 255, 255};
constexpr Color kRed{255, 0, 0};
constexpr Color kGreen{0, 128, 0};
constexpr Color kLime{0, 255, 0};
constexpr Color kOlive{128, 128, 0};
constexpr Color kYellow{255, 255, 0};
constexpr Color kMaroon{128, 0, 0};
}  // namespace colors

}  // namespace calvora::ui
