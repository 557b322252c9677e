// Labels, buttons and edits.
#pragma once

#include <string>

#include "vcl/Controls.h"
#include "vcl/Forms.h"

namespace vcl {

enum TAlignment { taLeftJustify, taRightJustify, taCenter };

class TLabel : public TGraphicControl {
 public:
  explicit TLabel(TComponent* owner);

  // Read when the native control is made.
  TAlignment Alignment = taLeftJustify;
  bool AutoSize = true;
  bool Transparent = false;
  bool WordWrap = false;
};

class TButton : public TWinControl {
 public:
  explicit TButton(TComponent* owner);

  // Read when the native control is made.
  bool Default = false;  // Return presses it
  bool Cancel = false;   // Escape presses it
  // Given to the parent form's ModalResult on a click, before OnClick.
  TModalResult ModalResult = mrNone;

  void Click() override;
};

class TEdit : public TWinControl {
 public:
  explicit TEdit(TComponent* owner);

  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool readOnly);
  int MaxLength = 0;
  void Clear() { SetText(""); }

  // Runs after every change of Text, by code or by the user.
  TNotifyEvent OnChange;

 protected:
  TEdit(TComponent* owner, std::string className);
  void TextChanged() override;

 private:
  bool readOnly_ = false;
};

}  // namespace vcl
