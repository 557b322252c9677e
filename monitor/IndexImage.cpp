#include "monitor/IndexImage.h"

namespace monitor {

TIndexImage::TIndexImage(vcl::TComponent* owner) : vcl::TImage(owner) {
  SetPictureIndex(0);
}

void TIndexImage::CountCells() {
  const int side = bigPicture_.Height();
  // An empty strip holds no cells: a count kept from the strip before would
  // let indexes "show" cells that do not exist.
  cellCount_ = side > 0 ? bigPicture_.Width() / side : 0;
}

void TIndexImage::SetBigPicture(const vcl::TBitmap& strip) {
  bigPicture_ = strip;
  pictureIndex_ = -1;
  CountCells();
  if (cellCount_ == 0)
    SetPicture(vcl::TBitmap());  // the old strip's cell must not stay on show
  SetPictureIndex(0);
}

void TIndexImage::SetPictureIndex(int index) {
  if (cellCount_ == 0) {
    CountCells();
    pictureIndex_ = -1;
  }
  if (index < 0 || index >= cellCount_ || index == pictureIndex_)
    return;
  pictureIndex_ = index;
  const int side = bigPicture_.Height();
  vcl::TBitmap cell(side, side);
  cell.CopyRect(0, 0, bigPicture_, vcl::TRect{index * side, 0, index * side + side, side});
  SetPicture(cell);
}

void TIndexImage::NextPicture() {
  const int next = pictureIndex_ + 1;
  SetPictureIndex(next < cellCount_ ? next : 0);
}

}  // namespace monitor
