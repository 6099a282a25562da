#pragma once
// A canvas on a 32-bit top-down DIB section with a memory device context of its own. The
// window that shows it copies the bits on WM_PAINT; RepaintNow asks for that at once. A click
// on that window (STN_CLICKED of a static control with SS_NOTIFY) runs OnClick.
#include "ui/win32/WindowsApi.h"

#include <cstdint>

#include "ui/Canvas.h"
#include "ui/win32/Win32Roles.h"

namespace calvora::ui::win32 {

class DibCanvas : public Canvas, public Win32Notified {
 public:
  DibCanvas(int width, int height);
  ~DibCanvas() override;
  DibCanvas(const DibCanvas&) = delete;
  DibCanvas& operator=(const DibCanvas&) = delete;

  int Width() const override { return width_; }
  int Height() const override { return height_; }
  void BeginPaint() override {}
  void EndPaint() override { GdiFlush(); }
  void FillRect(const Rect& rect, Color color) override;
  void DrawText(int x, int y, std::string_view text, Color color) override;
  void RepaintNow() override;

  // The pixel at (x, y) as 0x00RRGGBB.
  uint32_t Pixel(int x, int y) const;
  // Copies the picture to (x, y) of `target`.
  void CopyTo(HDC target, int x, int y) const;
  // The window that shows the picture and is repainted by RepaintNow.
  void ShowIn(HWND window);
  void Command(UINT code) override;

 private:
  int width_;
  int height_;
  HDC dc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ previousBitmap_ = nullptr;
  uint32_t* bits_ = nullptr;
  HWND shownIn_ = nullptr;
};

}  // namespace calvora::ui::win32
