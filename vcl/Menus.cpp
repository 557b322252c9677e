#include "vcl/Menus.h"

#include <algorithm>

#include "vcl/Backend.h"

namespace vcl {

TMenuItem::TMenuItem(TComponent* owner) : TComponent(owner, "TMenuItem") {}

TMenuItem::~TMenuItem() {
  while (!items_.empty()) {
    TMenuItem* child = items_.back();
    if (child->Destroying()) {
      Remove(child);
    } else {
      Free(child);  // takes itself out of items_
    }
  }
  if (parent_)
    parent_->Remove(this);
}

void TMenuItem::Add(TMenuItem* item) {
  if (!item || item == this)
    return;
  if (item->parent_)
    item->parent_->Remove(item);
  items_.push_back(item);
  item->parent_ = this;
}

void TMenuItem::Remove(TMenuItem* item) {
  auto it = std::find(items_.begin(), items_.end(), item);
  if (it == items_.end())
    return;
  items_.erase(it);
  item->parent_ = nullptr;
}

void TMenuItem::Click() {
  if (OnClick) {
    const TNotifyEvent handler = OnClick;
    handler(this);
  }
}

TPopupMenu::TPopupMenu(TComponent* owner)
    : TComponent(owner, "TPopupMenu"), items_(new TMenuItem(this)) {}

void TPopupMenu::Popup(int x, int y) {
  popupPoint_ = TPoint{x, y};
  ++popupCount_;
  if (OnPopup) {
    const TNotifyEvent handler = OnPopup;
    handler(this);
  }
  backend().Popup(*this, x, y);
}

}  // namespace vcl
