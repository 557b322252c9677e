#include "vcl/ComCtrls.h"

namespace vcl {

void TStatusPanel::SetText(const std::string& text) {
  if (text == text_)
    return;
  text_ = text;
  bar_.PanelsChanged();
}

void TStatusPanel::SetWidth(int width) {
  if (width == width_)
    return;
  width_ = width;
  bar_.PanelsChanged();
}

TStatusPanel& TStatusPanels::Add() {
  panels_.push_back(std::make_unique<TStatusPanel>(bar_));
  bar_.PanelsChanged();
  return *panels_.back();
}

void TStatusPanels::Clear() {
  panels_.clear();
  bar_.PanelsChanged();
}

TStatusBar::TStatusBar(TComponent* owner) : TWinControl(owner, "TStatusBar") {
  SetBounds(0, 0, 0, 19);
  SetAlign(alBottom);
}

void TStatusBar::SetSimplePanel(bool simplePanel) {
  if (simplePanel == simplePanel_)
    return;
  simplePanel_ = simplePanel;
  Changed(TProperty::Panels);
}

void TStatusBar::SetSimpleText(const std::string& text) {
  if (text == simpleText_)
    return;
  simpleText_ = text;
  Changed(TProperty::Panels);
}

}  // namespace vcl
