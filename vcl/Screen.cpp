#include "vcl/Screen.h"

#include "vcl/Backend.h"

namespace vcl {

void TScreen::SetCursor(TCursor cursor) {
  if (cursor == cursor_)
    return;
  cursor_ = cursor;
  backend().ScreenCursorChanged(cursor);
}

TScreen& Screen() {
  static TScreen screen;
  return screen;
}

}  // namespace vcl
