#pragma once
// The colours of the program's skin (the same as the Qt build's style sheet) as Windows
// colour values.
#include "ui/win32/WindowsApi.h"

#include "ui/Color.h"

namespace calvora::ui::win32::skin {

inline COLORREF ToColorRef(Color c) {
  return RGB(c.R, c.G, c.B);
}

inline constexpr COLORREF kWindow = RGB(0x26, 0x2a, 0x31);
inline constexpr COLORREF kWindowText = RGB(0xd8, 0xdd, 0xe6);
inline constexpr COLORREF kGroup = RGB(0x2e, 0x33, 0x3b);
inline constexpr COLORREF kGroupBorder = RGB(0x44, 0x4b, 0x57);
inline constexpr COLORREF kGroupTitle = RGB(0xaa, 0xb3, 0xc2);
inline constexpr COLORREF kField = RGB(0x1b, 0x1e, 0x23);
inline constexpr COLORREF kFieldBorder = RGB(0x4a, 0x52, 0x60);
inline constexpr COLORREF kGaugeText = RGB(0xf0, 0xf3, 0xf7);
inline constexpr COLORREF kGaugeChunk = RGB(0x3d, 0x6f, 0xb3);
inline constexpr COLORREF kLevelChunk = RGB(0x3c, 0x9a, 0x52);
inline constexpr COLORREF kLedBorder = RGB(0x5a, 0x62, 0x70);

}  // namespace calvora::ui::win32::skin
