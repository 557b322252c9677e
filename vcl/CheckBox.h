// The check box: a box that is ticked or not, with a caption beside it.
#pragma once

#include "vcl/Controls.h"

namespace vcl {

class TCheckBox : public TWinControl {
 public:
  explicit TCheckBox(TComponent* owner);

  bool Checked() const { return checked_; }
  // Set by code: OnClick does not run.
  void SetChecked(bool checked);

  // A user's click (mouse or space key): the box toggles, then OnClick.
  void Click() override;
  // A user's mouse press and release at (x, y) within the box: it takes the
  // focus, OnMouseDown runs, and the box is clicked when it still has the
  // focus then (a handler that moves the focus elsewhere cancels the click).
  // A disabled or hidden box takes no input.
  void ClickAt(int x, int y);

 private:
  bool checked_ = false;
};

}  // namespace vcl
