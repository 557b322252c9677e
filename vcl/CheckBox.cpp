#include "vcl/CheckBox.h"

namespace vcl {

TCheckBox::TCheckBox(TComponent* owner) : TWinControl(owner, "TCheckBox") {
  SetBounds(0, 0, 97, 17);
}

void TCheckBox::SetChecked(bool checked) {
  if (checked == checked_)
    return;
  checked_ = checked;
  Changed(TProperty::Checked);
}

void TCheckBox::Click() {
  SetChecked(!checked_);
  TWinControl::Click();
}

void TCheckBox::ClickAt(int x, int y) {
  if (!CanFocus())
    return;
  SetFocus();
  MouseDown(mbLeft, ssLeft, x, y);
  if (Focused())
    Click();
}

}  // namespace vcl
