// The status bar with its panels.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "vcl/Controls.h"

namespace vcl {

class TStatusBar;

class TStatusPanel {
 public:
  explicit TStatusPanel(TStatusBar& bar) : bar_(bar) {}

  const std::string& Text() const { return text_; }
  void SetText(const std::string& text);
  int Width() const { return width_; }
  void SetWidth(int width);

 private:
  TStatusBar& bar_;
  std::string text_;
  int width_ = 50;
};

class TStatusPanels {
 public:
  explicit TStatusPanels(TStatusBar& bar) : bar_(bar) {}

  TStatusPanel& Add();
  int Count() const { return static_cast<int>(panels_.size()); }
  TStatusPanel& operator[](int index) { return *panels_.at(index); }
  const TStatusPanel& operator[](int index) const { return *panels_.at(index); }
  void Clear();

 private:
  TStatusBar& bar_;
  std::vector<std::unique_ptr<TStatusPanel>> panels_;
};

class TStatusBar : public TWinControl {
 public:
  explicit TStatusBar(TComponent* owner);

  TStatusPanels& Panels() { return panels_; }
  const TStatusPanels& Panels() const { return panels_; }

  // One text over the whole bar instead of the panels.
  bool SimplePanel() const { return simplePanel_; }
  void SetSimplePanel(bool simplePanel);
  const std::string& SimpleText() const { return simpleText_; }
  void SetSimpleText(const std::string& text);

  // Told by the panels.
  void PanelsChanged() { Changed(TProperty::Panels); }

 private:
  TStatusPanels panels_{*this};
  bool simplePanel_ = false;
  std::string simpleText_;
};

}  // namespace vcl
