#include "monitor/LedStrip.h"

#include <algorithm>
#include <array>

namespace monitor {
namespace {

constexpr std::array<vcl::TColor, kLedCells> kLampColors = {
    0xA0A0A0,  // grey: off
    0x00E0FF,  // yellow
    0x00C000,  // green
    0x0000E0,  // red
};

// Each channel of `color` moved toward `target` by `percent`.
vcl::TColor Blend(vcl::TColor color, vcl::TColor target, int percent) {
  vcl::TColor result = 0;
  for (int shift = 0; shift <= 16; shift += 8) {
    const int from = static_cast<int>((color >> shift) & 0xFF);
    const int to = static_cast<int>((target >> shift) & 0xFF);
    result |= static_cast<vcl::TColor>(from + (to - from) * percent / 100) << shift;
  }
  return result;
}

// A lamp in the cell at `left`: a dark rim, the body, and a light spot up left.
void DrawLamp(vcl::TBitmap& strip, int left, vcl::TColor color) {
  // Distances are measured in half pixels from the cell's centre, so that
  // the circle sits symmetrically in the odd-sized cell.
  const int centre = kLedSide;  // (kLedSide / 2 + 0.5) * 2 for an odd side
  for (int y = 0; y < kLedSide; ++y) {
    for (int x = 0; x < kLedSide; ++x) {
      const int dx = 2 * x + 1 - centre;
      const int dy = 2 * y + 1 - centre;
      const int squared = dx * dx + dy * dy;
      if (squared > 15 * 15)
        continue;
      vcl::TColor pixel = squared > 13 * 13 ? Blend(color, vcl::clBlack, 55) : color;
      const int sx = dx + 5;
      const int sy = dy + 5;
      if (sx * sx + sy * sy <= 4 * 4)
        pixel = Blend(color, vcl::clWhite, 70);
      strip.SetPixel(left + x, y, pixel);
    }
  }
}

}  // namespace

vcl::TColor LedColor(TLedCell cell) {
  return kLampColors.at(static_cast<size_t>(std::clamp(static_cast<int>(cell), 0, kLedCells - 1)));
}

vcl::TBitmap LedStrip() {
  vcl::TBitmap strip(kLedSide * kLedCells, kLedSide, kLedGround);
  for (int cell = 0; cell < kLedCells; ++cell)
    DrawLamp(strip, cell * kLedSide, kLampColors[static_cast<size_t>(cell)]);
  return strip;
}

}  // namespace monitor
