// What the backend paints itself, because the system has no control for it:
// the owner-drawn images, and the containers' group frames, panel bevels and
// captions. The brushes are kept per colour for the backend's life, since a
// colour message hands its brush to the system, which does not free it.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/win32/vcl/Win32BackendImpl.h"

namespace vcl::win32::detail {

HBRUSH Win32Backend::Brush(COLORREF color) {
  auto it = brushes_.find(color);
  if (it != brushes_.end())
    return it->second;
  HBRUSH brush = CreateSolidBrush(color);
  brushes_.emplace(color, brush);
  return brush;
}

TColor Win32Backend::BackgroundOf(const TControl& control) const {
  auto* label = dynamic_cast<const TLabel*>(&control);
  const bool seeThrough = (label && label->Transparent) || dynamic_cast<const TImage*>(&control);
  if (seeThrough && control.Parent())
    return control.Parent()->Color();
  return control.Color();
}

void Win32Backend::PaintImage(TImage& image, HDC dc, const RECT& rect) {
  const COLORREF background = ToColorRef(BackgroundOf(image));
  FillRect(dc, &rect, Brush(background));
  const TBitmap& picture = image.Picture();
  if (picture.Empty())
    return;
  const int width = picture.Width();
  const int height = picture.Height();
  const TColor transparent = picture.TransparentColor();
  std::vector<uint32_t> bits(static_cast<size_t>(width) * height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      TColor color = picture.Pixel(x, y);
      if (image.Transparent() && color == transparent)
        color = background;
      bits[static_cast<size_t>(y) * width + x] =
          ((color & 0xFF) << 16) | (color & 0xFF00) | ((color >> 16) & 0xFF);
    }
  }
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top row first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  int x = rect.left;
  int y = rect.top;
  int drawWidth = width;
  int drawHeight = height;
  if (image.Stretch) {
    drawWidth = rect.right - rect.left;
    drawHeight = rect.bottom - rect.top;
  } else if (image.Center) {
    x += (rect.right - rect.left - width) / 2;
    y += (rect.bottom - rect.top - height) / 2;
  }
  StretchDIBits(dc, x, y, drawWidth, drawHeight, 0, 0, width, height, bits.data(), &info,
                DIB_RGB_COLORS, SRCCOPY);
}

void Win32Backend::PaintContainer(TWinControl& control, HWND hwnd) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(hwnd, &paint);
  RECT rect;
  GetClientRect(hwnd, &rect);
  FillRect(dc, &rect, Brush(ToColorRef(control.Color())));
  auto it = natives_.find(&control);
  HGDIOBJ oldFont = nullptr;
  if (it != natives_.end() && it->second.font)
    oldFont = SelectObject(dc, it->second.font);
  SetTextColor(dc, ToColorRef(control.Font().Color));
  SetBkMode(dc, TRANSPARENT);
  if (dynamic_cast<TRadioGroup*>(&control) || dynamic_cast<TGroupBox*>(&control)) {
    // A group frame: an etched line half a text line down, the caption on it.
    TEXTMETRICA metrics{};
    GetTextMetricsA(dc, &metrics);
    RECT frame = rect;
    frame.top += metrics.tmHeight / 2;
    DrawEdge(dc, &frame, EDGE_ETCHED, BF_RECT);
    const std::string& caption = control.Caption();
    if (!caption.empty()) {
      SIZE size{};
      GetTextExtentPoint32A(dc, caption.c_str(), static_cast<int>(caption.size()), &size);
      RECT label{6, 0, 6 + size.cx + 4, metrics.tmHeight};
      FillRect(dc, &label, Brush(ToColorRef(control.Color())));
      label.left += 2;
      DrawTextA(dc, caption.c_str(), -1, &label, DT_LEFT | DT_TOP | DT_SINGLELINE);
    }
  }
  if (auto* panel = dynamic_cast<TPanel*>(&control)) {
    auto edge = [](TBevelCut cut, bool outer) -> UINT {
      switch (cut) {
        case bvLowered:
          return outer ? BDR_SUNKENOUTER : BDR_SUNKENINNER;
        case bvRaised:
          return outer ? BDR_RAISEDOUTER : BDR_RAISEDINNER;
        default:
          return 0;
      }
    };
    if (UINT outer = edge(panel->BevelOuter, true)) {
      DrawEdge(dc, &rect, outer, BF_RECT);
      InflateRect(&rect, -panel->BevelWidth, -panel->BevelWidth);
    }
    if (UINT inner = edge(panel->BevelInner, false)) {
      DrawEdge(dc, &rect, inner, BF_RECT);
      InflateRect(&rect, -panel->BevelWidth, -panel->BevelWidth);
    }
    if (!panel->Caption().empty()) {
      DrawTextA(dc, panel->Caption().c_str(), -1, &rect, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    }
  }
  if (oldFont)
    SelectObject(dc, oldFont);
  EndPaint(hwnd, &paint);
}

}  // namespace vcl::win32::detail
