// Unit IndexImage: an image control that shows one square cell of a
// horizontal strip of pictures. The main window's LEDs are such controls, each
// switching between the cells of one strip (grey, yellow, green, red).
#pragma once

#include "vcl/ExtCtrls.h"
#include "vcl/Graphics.h"

namespace monitor {

class TIndexImage : public vcl::TImage {
 public:
  explicit TIndexImage(vcl::TComponent* owner);

  // The strip: square cells side by side, the cell side being its height.
  const vcl::TBitmap& BigPicture() const { return bigPicture_; }
  // Takes a copy, recounts the cells and shows cell 0 (nothing when the
  // strip is empty).
  void SetBigPicture(const vcl::TBitmap& strip);

  // The cell shown; -1 while none is. Values outside the strip's cells are
  // ignored, as is any value while the strip is empty.
  int PictureIndex() const { return pictureIndex_; }
  void SetPictureIndex(int index);

  // True whenever the cell shown is not cell 0 (also while none is shown);
  // writing True shows cell 1, False cell 0.
  bool ONOFF() const { return pictureIndex_ != 0; }
  void SetONOFF(bool on) { SetPictureIndex(on ? 1 : 0); }

  // The next cell, or cell 0 after the last.
  void NextPicture();

 private:
  void CountCells();

  vcl::TBitmap bigPicture_;
  int pictureIndex_ = -1;
  int cellCount_ = 0;  // 0 while the strip holds no whole cell
};

}  // namespace monitor
