// Controls: a control has a parent, bounds, a caption, visibility, colours, a
// font and a hint, all held in fields; a windowed control holds child controls
// and receives keys. Each change is told to the backend (vcl/Backend.h).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "vcl/Classes.h"
#include "vcl/Graphics.h"
#include "vcl/Messages.h"

namespace vcl {

class TWinControl;
class TForm;

enum TShiftFlag : unsigned {
  ssShift = 1,
  ssAlt = 2,
  ssCtrl = 4,
  ssLeft = 8,
  ssRight = 16,
  ssMiddle = 32,
  ssDouble = 64
};
using TShiftState = unsigned;

using TKeyEvent = std::function<void(TObject* sender, uint16_t& key, TShiftState shift)>;
using TMouseMoveEvent = std::function<void(TObject* sender, TShiftState shift, int x, int y)>;
enum TMouseButton { mbLeft, mbRight, mbMiddle };
using TMouseEvent =
    std::function<void(TObject* sender, TMouseButton button, TShiftState shift, int x, int y)>;

enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };

// What changed, as the backend is told.
enum class TProperty {
  Caption,
  Bounds,
  Visible,
  Enabled,
  Color,
  Font,
  Hint,
  ReadOnly,
  Picture,
  Down,
  Items,
  ItemIndex,
  Panels,
  Default,
  Style,
  Checked,
  Position,
  Focus,
};

class TControl : public TComponent {
 public:
  TControl(TComponent* owner, std::string className);
  ~TControl() override;

  TWinControl* Parent() const { return parent_; }
  void SetParent(TWinControl* parent);
  // The form this control sits on; a form's is itself. Null when there is none.
  TForm* ParentForm() const;

  int Left() const { return left_; }
  int Top() const { return top_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  void SetLeft(int left) { SetBounds(left, top_, width_, height_); }
  void SetTop(int top) { SetBounds(left_, top, width_, height_); }
  void SetWidth(int width) { SetBounds(left_, top_, width, height_); }
  void SetHeight(int height) { SetBounds(left_, top_, width_, height); }
  void SetBounds(int left, int top, int width, int height);
  TRect BoundsRect() const { return TRect{left_, top_, left_ + width_, top_ + height_}; }
  virtual int ClientWidth() const { return width_; }
  virtual int ClientHeight() const { return height_; }

  // Caption and Text are one field, as in the class library.
  const std::string& Caption() const { return text_; }
  void SetCaption(const std::string& caption) { SetText(caption); }
  const std::string& Text() const { return text_; }
  void SetText(const std::string& text);

  bool Visible() const { return visible_; }
  void SetVisible(bool visible);
  void Show() { SetVisible(true); }
  void Hide() { SetVisible(false); }
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  // Enabled, and so is every parent up to the form: a disabled container
  // disables what it holds.
  bool EffectiveEnabled() const;
  // Visible, and so is every parent up to the form (whether the form is on
  // the screen is the form's own matter).
  bool EffectiveVisible() const;

  const std::string& Hint() const { return hint_; }
  void SetHint(const std::string& hint);
  bool ShowHint() const { return showHint_; }
  void SetShowHint(bool showHint);

  TColor Color() const { return color_; }
  void SetColor(TColor color);
  const TFont& Font() const { return font_; }
  void SetFont(const TFont& font);

  TAlign Align() const { return align_; }
  void SetAlign(TAlign align);

  TNotifyEvent OnClick;
  TNotifyEvent OnDblClick;
  TMouseMoveEvent OnMouseMove;
  TMouseEvent OnMouseDown;

  // Input: what a user's click, double click, a mouse movement and a mouse
  // button pressed over the control (at x, y within it) do.
  virtual void Click();
  void DblClick();
  void MouseMove(TShiftState shift, int x, int y);
  void MouseDown(TMouseButton button, TShiftState shift, int x, int y);

  // The backend's native window of this control (0 headless and for forms,
  // whose handle is TForm::Handle()).
  TWindowHandle NativeHandle() const { return nativeHandle_; }
  void SetNativeHandle(TWindowHandle handle) { nativeHandle_ = handle; }

 protected:
  // Tells the backend, unless the change came from the native side.
  void Changed(TProperty property);
  virtual void TextChanged() {}
  virtual void BoundsChanged() {}
  virtual void VisibleChanged();

  TColor color_ = clBtnFace;
  TFont font_;

 private:
  friend class TWinControl;
  TWinControl* parent_ = nullptr;
  int left_ = 0;
  int top_ = 0;
  int width_ = 0;
  int height_ = 0;
  std::string text_;
  bool visible_ = true;
  bool enabled_ = true;
  std::string hint_;
  bool showHint_ = false;
  TAlign align_ = alNone;
  TWindowHandle nativeHandle_ = 0;
};

// A control that only paints (label, image, speed button) has no window of its
// own in the class library; here the distinction is only the class.
class TGraphicControl : public TControl {
 public:
  using TControl::TControl;
};

class TWinControl : public TControl {
 public:
  using TControl::TControl;
  ~TWinControl() override;
  void BeforeDestruction() override;

  int ControlCount() const { return static_cast<int>(controls_.size()); }
  TControl* Controls(int index) const { return controls_.at(index); }
  const std::vector<TControl*>& ControlList() const { return controls_; }

  TKeyEvent OnKeyDown;

  // The keyboard focus: the form's active control. SetFocus does nothing
  // while the control cannot take it (hidden or disabled, itself or a parent).
  bool CanFocus() const { return EffectiveVisible() && EffectiveEnabled(); }
  void SetFocus();
  bool Focused() const;

  // Input: a key pressed while this control has the focus. The form sees it
  // first when its KeyPreview is on; then this control's OnKeyDown; then,
  // unless a handler zeroed the key, Return and Escape press the form's
  // default and cancel buttons. Returns the key left (0: it was handled).
  uint16_t KeyDown(uint16_t key, TShiftState shift = 0);

  // Places the children that have an Align within the client area, in the
  // order they were given this parent.
  void Realign();

 protected:
  void BoundsChanged() override { Realign(); }

 private:
  friend class TControl;
  void FreeChildControls();

  std::vector<TControl*> controls_;
  bool aligning_ = false;
};

// Makes a control of kind `Control` owned by `owner`, named, placed on
// `parent` at the given bounds: how forms built in code lay out their controls.
template <class Control>
Control* Place(TComponent* owner, TWinControl* parent, const char* name, int left, int top,
               int width, int height) {
  auto* control = new Control(owner);
  control->SetName(name);
  control->SetParent(parent);
  control->SetBounds(left, top, width, height);
  return control;
}

}  // namespace vcl
