// The LED pictures of the main window: one strip of four 17 x 17 cells, each
// a lit or unlit lamp on a ground that the image controls show through.
#pragma once

#include "vcl/Graphics.h"

namespace monitor {

// The cells of the strip, in order.
enum TLedCell : int { ledGrey = 0, ledYellow = 1, ledGreen = 2, ledRed = 3 };

inline constexpr int kLedSide = 17;
inline constexpr int kLedCells = 4;

// The ground colour: every corner pixel of every cell has it, so a
// transparent image control (which takes the bottom-left pixel's colour as
// transparent) shows its parent there.
inline constexpr vcl::TColor kLedGround = vcl::clFuchsia;

// The main colour of each cell's lamp.
vcl::TColor LedColor(TLedCell cell);

// The strip of 68 x 17 pixels: grey, yellow, green, red.
vcl::TBitmap LedStrip();

}  // namespace monitor
