#include "vcl/Buttons.h"

namespace vcl {

TSpeedButton::TSpeedButton(TComponent* owner) : TGraphicControl(owner, "TSpeedButton") {
  SetBounds(0, 0, 23, 22);
}

void TSpeedButton::SetDown(bool down) {
  if (GroupIndex == 0)
    down = false;
  if (down == down_)
    return;
  if (down_ && !AllowAllUp)
    return;
  down_ = down;
  Changed(TProperty::Down);
  if (down_ && Parent()) {
    for (TControl* sibling : Parent()->ControlList()) {
      auto* other = dynamic_cast<TSpeedButton*>(sibling);
      if (!other || other == this || other->GroupIndex != GroupIndex)
        continue;
      if (other->down_) {
        other->down_ = false;
        other->Changed(TProperty::Down);
      }
      other->AllowAllUp = AllowAllUp;
    }
  }
}

void TSpeedButton::Click() {
  if (GroupIndex != 0)
    SetDown(!down_);
  TGraphicControl::Click();
}

}  // namespace vcl
