// Popup menus and their items.
#pragma once

#include <string>
#include <vector>

#include "vcl/Classes.h"

namespace vcl {

class TMenuItem : public TComponent {
 public:
  explicit TMenuItem(TComponent* owner);
  // Frees the items below it too, as the class library does.
  ~TMenuItem() override;

  // Plain fields, read when the menu pops up. A caption "-" is a separator.
  std::string Caption;
  bool Enabled = true;
  bool Visible = true;
  bool Checked = false;
  bool Default = false;
  TNotifyEvent OnClick;

  bool IsLine() const { return Caption == "-"; }

  void Add(TMenuItem* item);
  void Remove(TMenuItem* item);
  int Count() const { return static_cast<int>(items_.size()); }
  TMenuItem* Items(int index) const { return items_.at(index); }
  TMenuItem* Parent() const { return parent_; }

  // A user's choice of this item: OnClick.
  void Click();

 private:
  TMenuItem* parent_ = nullptr;
  std::vector<TMenuItem*> items_;
};

class TPopupMenu : public TComponent {
 public:
  explicit TPopupMenu(TComponent* owner);

  // The root item; the menu's items are its children.
  TMenuItem* Items() const { return items_; }

  // Pops the menu up at screen position (x, y): OnPopup, then the backend
  // shows it (and clicks the item chosen). Headless, the position is recorded.
  void Popup(int x, int y);
  TNotifyEvent OnPopup;

  TPoint PopupPoint() const { return popupPoint_; }
  int PopupCount() const { return popupCount_; }

 private:
  TMenuItem* items_;
  TPoint popupPoint_{};
  int popupCount_ = 0;
};

}  // namespace vcl
