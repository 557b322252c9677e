#include "vcl/UpDown.h"

#include <algorithm>
#include <string>

namespace vcl {

TUpDown::TUpDown(TComponent* owner) : TWinControl(owner, "TUpDown") {
  SetBounds(0, 0, 16, 21);
}

void TUpDown::SetRange(int min, int max) {
  min_ = std::min(min, max);
  max_ = std::max(min, max);
  SetPosition(position_);
}

void TUpDown::SetPosition(int position) {
  position = std::clamp(position, min_, max_);
  if (position == position_)
    return;
  bool allow = true;
  if (OnChanging) {
    const TUDChangingEvent handler = OnChanging;
    handler(this, allow);
  }
  if (!allow)
    return;
  position_ = position;
  Changed(TProperty::Position);
  ShowInAssociate();
}

void TUpDown::SetAssociate(TWinControl* associate) {
  if (associate == associate_)
    return;
  if (associate_)
    associate_->RemoveFreeNotification(this);
  associate_ = associate;
  if (associate_) {
    associate_->FreeNotification(this);
    ShowInAssociate();
  }
}

void TUpDown::ShowInAssociate() {
  if (associate_)
    associate_->SetText(std::to_string(position_));
}

void TUpDown::ClickButton(TUDBtnType button) {
  if (!CanFocus())
    return;
  // 64 bits: an increment near the limits of int must not wrap around.
  int64_t next = int64_t{position_} + (button == btNext ? Increment : -int64_t{Increment});
  if (next > max_)
    next = Wrap ? min_ : max_;
  if (next < min_)
    next = Wrap ? max_ : min_;
  SetPosition(static_cast<int>(next));
}

void TUpDown::Notification(TComponent* component, TOperation operation) {
  if (operation == TOperation::opRemove && component == associate_)
    associate_ = nullptr;
  TWinControl::Notification(component, operation);
}

}  // namespace vcl
