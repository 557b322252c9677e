// The screen's mouse pointer for the whole program: the hourglass while the
// program is busy, the pointer each control asks for otherwise.
#pragma once

namespace vcl {

enum TCursor : int { crDefault = 0, crHourGlass = -11 };

class TScreen {
 public:
  TCursor Cursor() const { return cursor_; }
  void SetCursor(TCursor cursor);

 private:
  TCursor cursor_ = crDefault;
};

TScreen& Screen();

}  // namespace vcl
