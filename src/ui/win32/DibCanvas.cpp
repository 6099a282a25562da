#include "ui/win32/DibCanvas.h"

#include <algorithm>

#include "platform/win32/WideText.h"
#include "ui/win32/Skin.h"

namespace calvora::ui::win32 {

DibCanvas::DibCanvas(int width, int height) : width_(width), height_(height) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down: row 0 is the top row
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  dc_ = CreateCompatibleDC(nullptr);
  bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  bits_ = static_cast<uint32_t*>(bits);
  previousBitmap_ = SelectObject(dc_, bitmap_);
  SelectObject(dc_, GetStockObject(DEFAULT_GUI_FONT));
  SetBkMode(dc_, TRANSPARENT);
  if (bits_ != nullptr)
    std::fill(bits_, bits_ + static_cast<size_t>(width) * static_cast<size_t>(height), 0u);
}

DibCanvas::~DibCanvas() {
  SelectObject(dc_, previousBitmap_);
  DeleteObject(bitmap_);
  DeleteDC(dc_);
}

void DibCanvas::FillRect(const Rect& rect, Color color) {
  if (rect.Right <= rect.Left || rect.Bottom <= rect.Top)
    return;
  // The device context's own brush takes the colour: no brush is made for every bar of the
  // meter on every tick.
  const RECT area{rect.Left, rect.Top, rect.Right, rect.Bottom};
  SetDCBrushColor(dc_, skin::ToColorRef(color));
  ::FillRect(dc_, &area, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
}

void DibCanvas::DrawText(int x, int y, std::string_view text, Color color) {
  const std::wstring wide = platform::win32::Widen(text);
  SetTextColor(dc_, skin::ToColorRef(color));
  TextOutW(dc_, x, y, wide.c_str(), static_cast<int>(wide.size()));
}

void DibCanvas::RepaintNow() {
  GdiFlush();
  if (shownIn_ != nullptr) {
    InvalidateRect(shownIn_, nullptr, FALSE);
    UpdateWindow(shownIn_);
  }
}

uint32_t DibCanvas::Pixel(int x, int y) const {
  if (bits_ == nullptr || x < 0 || y < 0 || x >= width_ || y >= height_)
    return 0;
  GdiFlush();
  return bits_[static_cast<size_t>(y) * static_cast<size_t>(width_) + static_cast<size_t>(x)] &
         0x00ffffffu;
}

void DibCanvas::CopyTo(HDC target, int x, int y) const {
  GdiFlush();
  BitBlt(target, x, y, width_, height_, dc_, 0, 0, SRCCOPY);
}

void DibCanvas::ShowIn(HWND window) {
  shownIn_ = window;
  Attach(window);
}

void DibCanvas::Command(UINT code) {
  if (code == STN_CLICKED && OnClick)
    OnClick();
}

}  // namespace calvora::ui::win32
