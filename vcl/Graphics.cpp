#include "vcl/Graphics.h"

#include <algorithm>

namespace vcl {

TColor ColorToRGB(TColor color) {
  if ((color & 0xFF000000) != clSystemColor)
    return color & 0xFFFFFF;
  switch (color & 0xFF) {
    case 5:  // window
      return clWhite;
    case 8:   // window text
    case 18:  // button text
    case 23:  // info text
      return clBlack;
    case 15:  // button face
      return 0xF0F0F0;
    case 24:  // info background
      return 0xE1FFFF;
    default:
      return clGray;
  }
}

int TFont::Size() const {
  const int pixels = Height < 0 ? -Height : Height;
  return (pixels * 72 + 48) / 96;
}

void TFont::SetSize(int points) {
  Height = -((points * 96 + 36) / 72);
}

TBitmap::TBitmap(int width, int height, TColor fill) {
  width_ = std::max(width, 0);
  height_ = std::max(height, 0);
  pixels_.assign(static_cast<size_t>(width_) * height_, fill);
}

void TBitmap::SetSize(int width, int height) {
  TBitmap resized(width, height);
  resized.CopyRect(0, 0, *this, TRect{0, 0, width_, height_});
  *this = std::move(resized);
}

TColor TBitmap::Pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_)
    return clNone;
  return pixels_[static_cast<size_t>(y) * width_ + x];
}

void TBitmap::SetPixel(int x, int y, TColor color) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_)
    return;
  pixels_[static_cast<size_t>(y) * width_ + x] = color;
}

void TBitmap::Fill(TColor color) {
  std::fill(pixels_.begin(), pixels_.end(), color);
}

void TBitmap::CopyRect(int x, int y, const TBitmap& source, const TRect& sourceRect) {
  for (int row = 0; row < sourceRect.Height(); ++row) {
    for (int col = 0; col < sourceRect.Width(); ++col) {
      const int sx = sourceRect.Left + col;
      const int sy = sourceRect.Top + row;
      if (sx < 0 || sy < 0 || sx >= source.width_ || sy >= source.height_)
        continue;
      SetPixel(x + col, y + row, source.Pixel(sx, sy));
    }
  }
}

TColor TBitmap::TransparentColor() const {
  return Empty() ? clNone : Pixel(0, height_ - 1);
}

}  // namespace vcl
