#include "vcl/StdCtrls.h"

namespace vcl {

TLabel::TLabel(TComponent* owner) : TGraphicControl(owner, "TLabel") {
  SetBounds(0, 0, 65, 13);
}

TButton::TButton(TComponent* owner) : TWinControl(owner, "TButton") {
  SetBounds(0, 0, 75, 25);
}

void TButton::Click() {
  if (TForm* form = ParentForm())
    form->SetModalResult(ModalResult);
  TWinControl::Click();
}

TEdit::TEdit(TComponent* owner) : TEdit(owner, "TEdit") {}

TEdit::TEdit(TComponent* owner, std::string className) : TWinControl(owner, std::move(className)) {
  color_ = clWindow;
  SetBounds(0, 0, 121, 21);
}

void TEdit::SetReadOnly(bool readOnly) {
  if (readOnly == readOnly_)
    return;
  readOnly_ = readOnly;
  Changed(TProperty::ReadOnly);
}

void TEdit::TextChanged() {
  if (OnChange) {
    const TNotifyEvent handler = OnChange;
    handler(this);
  }
}

}  // namespace vcl
