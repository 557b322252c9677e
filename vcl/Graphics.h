// Colours, fonts and bitmaps as plain values.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vcl/Classes.h"

namespace vcl {

// 0x00BBGGRR, or a system colour (0xFF000000 | the system colour index).
using TColor = uint32_t;

inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clMaroon = 0x000080;
inline constexpr TColor clGreen = 0x008000;
inline constexpr TColor clOlive = 0x008080;
inline constexpr TColor clNavy = 0x800000;
inline constexpr TColor clPurple = 0x800080;
inline constexpr TColor clTeal = 0x808000;
inline constexpr TColor clGray = 0x808080;
inline constexpr TColor clSilver = 0xC0C0C0;
inline constexpr TColor clRed = 0x0000FF;
inline constexpr TColor clLime = 0x00FF00;
inline constexpr TColor clYellow = 0x00FFFF;
inline constexpr TColor clBlue = 0xFF0000;
inline constexpr TColor clFuchsia = 0xFF00FF;
inline constexpr TColor clAqua = 0xFFFF00;
inline constexpr TColor clWhite = 0xFFFFFF;
inline constexpr TColor clNone = 0x1FFFFFFF;

inline constexpr TColor clSystemColor = 0xFF000000;
inline constexpr TColor clWindow = clSystemColor | 5;
inline constexpr TColor clWindowText = clSystemColor | 8;
inline constexpr TColor clBtnFace = clSystemColor | 15;
inline constexpr TColor clBtnText = clSystemColor | 18;
inline constexpr TColor clInfoBk = clSystemColor | 24;
inline constexpr TColor clInfoText = clSystemColor | 23;

// The RGB value of a colour; system colours take their usual values.
TColor ColorToRGB(TColor color);

enum TFontStyle : unsigned { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
using TFontStyles = unsigned;

// A font as plain fields. Height in pixels (negative: character height, as the
// class library stores it); Size in points at 96 pixels per inch.
struct TFont {
  std::string Name = "Tahoma";
  int Height = -11;
  TColor Color = clWindowText;
  TFontStyles Style = 0;

  int Size() const;
  void SetSize(int points);
  bool operator==(const TFont&) const = default;
};

// A bitmap of Width x Height colours (0x00BBGGRR), rows top to bottom.
class TBitmap {
 public:
  TBitmap() = default;
  TBitmap(int width, int height, TColor fill = clWhite);

  int Width() const { return width_; }
  int Height() const { return height_; }
  bool Empty() const { return width_ <= 0 || height_ <= 0; }
  // Keeps what fits, fills new pixels with white.
  void SetSize(int width, int height);

  TColor Pixel(int x, int y) const;  // clNone outside
  void SetPixel(int x, int y, TColor color);
  void Fill(TColor color);
  const std::vector<TColor>& Pixels() const { return pixels_; }

  // Copies source's rectangle onto this bitmap's rectangle of the same size at
  // (x, y), clipped to both bitmaps.
  void CopyRect(int x, int y, const TBitmap& source, const TRect& sourceRect);

  // The transparent colour as the class library picks it by default: the
  // bottom-left pixel.
  TColor TransparentColor() const;

  bool operator==(const TBitmap&) const = default;

 private:
  int width_ = 0;
  int height_ = 0;
  std::vector<TColor> pixels_;
};

}  // namespace vcl
