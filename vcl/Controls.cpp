#include "vcl/Controls.h"

#include <algorithm>

#include "vcl/Backend.h"
#include "vcl/Forms.h"

namespace vcl {

TControl::TControl(TComponent* owner, std::string className)
    : TComponent(owner, std::move(className)) {}

TControl::~TControl() {
  if (parent_) {
    auto& siblings = parent_->controls_;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
    parent_ = nullptr;
  }
  backend().ControlDestroyed(*this);
}

void TControl::SetParent(TWinControl* parent) {
  if (parent == parent_ || parent == this)
    return;
  TWinControl* old = parent_;
  if (old) {
    auto& siblings = old->controls_;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
  }
  parent_ = parent;
  if (parent_)
    parent_->controls_.push_back(this);
  backend().ParentChanged(*this);
  if (align_ != alNone) {
    if (old)
      old->Realign();
    if (parent_)
      parent_->Realign();
  }
}

TForm* TControl::ParentForm() const {
  const TControl* control = this;
  while (control->parent_)
    control = control->parent_;
  return dynamic_cast<TForm*>(const_cast<TControl*>(control));
}

void TControl::SetBounds(int left, int top, int width, int height) {
  if (left == left_ && top == top_ && width == width_ && height == height_)
    return;
  left_ = left;
  top_ = top;
  width_ = width;
  height_ = height;
  Changed(TProperty::Bounds);
  BoundsChanged();
  if (parent_ && align_ != alNone)
    parent_->Realign();
}

void TControl::SetText(const std::string& text) {
  if (text == text_)
    return;
  text_ = text;
  Changed(TProperty::Caption);
  TextChanged();
}

void TControl::SetVisible(bool visible) {
  if (visible == visible_)
    return;
  visible_ = visible;
  VisibleChanged();
}

void TControl::VisibleChanged() {
  Changed(TProperty::Visible);
  if (parent_ && align_ != alNone)
    parent_->Realign();
}

void TControl::SetEnabled(bool enabled) {
  if (enabled == enabled_)
    return;
  enabled_ = enabled;
  Changed(TProperty::Enabled);
}

bool TControl::EffectiveEnabled() const {
  for (const TControl* control = this; control; control = control->parent_) {
    if (dynamic_cast<const TForm*>(control))
      return true;
    if (!control->enabled_)
      return false;
  }
  return true;
}

bool TControl::EffectiveVisible() const {
  for (const TControl* control = this; control; control = control->parent_) {
    if (dynamic_cast<const TForm*>(control))
      return true;
    if (!control->visible_)
      return false;
  }
  return true;
}

void TControl::SetHint(const std::string& hint) {
  if (hint == hint_)
    return;
  hint_ = hint;
  Changed(TProperty::Hint);
}

void TControl::SetShowHint(bool showHint) {
  if (showHint == showHint_)
    return;
  showHint_ = showHint;
  Changed(TProperty::Hint);
}

void TControl::SetColor(TColor color) {
  if (color == color_)
    return;
  color_ = color;
  Changed(TProperty::Color);
}

void TControl::SetFont(const TFont& font) {
  if (font == font_)
    return;
  font_ = font;
  Changed(TProperty::Font);
}

void TControl::SetAlign(TAlign align) {
  if (align == align_)
    return;
  align_ = align;
  if (parent_)
    parent_->Realign();
}

void TControl::Click() {
  if (OnClick) {
    const TNotifyEvent handler = OnClick;  // the handler may free this control
    handler(this);
  }
}

void TControl::DblClick() {
  if (OnDblClick) {
    const TNotifyEvent handler = OnDblClick;
    handler(this);
  }
}

void TControl::MouseMove(TShiftState shift, int x, int y) {
  if (OnMouseMove) {
    const TMouseMoveEvent handler = OnMouseMove;
    handler(this, shift, x, y);
  }
}

void TControl::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  if (OnMouseDown) {
    const TMouseEvent handler = OnMouseDown;
    handler(this, button, shift, x, y);
  }
}

void TControl::Changed(TProperty property) {
  if (!NativeUpdate::Active(*this))
    backend().Changed(*this, property);
}

TWinControl::~TWinControl() {
  FreeChildControls();
  if (TForm* form = ParentForm(); form && form->activeControl_ == this)
    form->activeControl_ = nullptr;
}

void TWinControl::SetFocus() {
  TForm* form = ParentForm();
  if (!form || form == this || !CanFocus())
    return;
  form->activeControl_ = this;
  Changed(TProperty::Focus);
}

bool TWinControl::Focused() const {
  const TForm* form = ParentForm();
  return form && form->activeControl_ == this;
}

void TWinControl::BeforeDestruction() {
  TControl::BeforeDestruction();
  FreeChildControls();
}

void TWinControl::FreeChildControls() {
  // As the class library does: a windowed control takes its children with it.
  while (!controls_.empty()) {
    TControl* child = controls_.back();
    if (child->Destroying()) {
      controls_.pop_back();
      child->parent_ = nullptr;
      continue;
    }
    Free(child);
  }
}

uint16_t TWinControl::KeyDown(uint16_t key, TShiftState shift) {
  TForm* form = ParentForm();
  if (form && form != this && form->KeyPreview && form->OnKeyDown) {
    const TKeyEvent preview = form->OnKeyDown;
    preview(form, key, shift);
  }
  if (key != 0 && OnKeyDown) {
    const TKeyEvent handler = OnKeyDown;
    handler(this, key, shift);
  }
  if (key != 0 && form)
    form->DialogKey(key, shift);
  return key;
}

void TWinControl::Realign() {
  if (aligning_)
    return;
  aligning_ = true;
  TRect area{0, 0, ClientWidth(), ClientHeight()};
  auto place = [](TControl* control, int left, int top, int width, int height) {
    control->SetBounds(left, top, std::max(width, 0), std::max(height, 0));
  };
  const std::vector<TControl*> children = controls_;
  for (TAlign pass : {alTop, alBottom, alLeft, alRight, alClient}) {
    for (TControl* child : children) {
      if (child->Align() != pass || !child->Visible())
        continue;
      switch (pass) {
        case alTop:
          place(child, area.Left, area.Top, area.Width(), child->Height());
          area.Top += child->Height();
          break;
        case alBottom:
          place(child, area.Left, area.Bottom - child->Height(), area.Width(), child->Height());
          area.Bottom -= child->Height();
          break;
        case alLeft:
          place(child, area.Left, area.Top, child->Width(), area.Height());
          area.Left += child->Width();
          break;
        case alRight:
          place(child, area.Right - child->Width(), area.Top, child->Width(), area.Height());
          area.Right -= child->Width();
          break;
        case alClient:
          place(child, area.Left, area.Top, area.Width(), area.Height());
          break;
        case alNone:
          break;
      }
    }
  }
  aligning_ = false;
}

}  // namespace vcl
