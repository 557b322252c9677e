#include "vcl/ComboBox.h"

#include <algorithm>

namespace vcl {

TComboBox::TComboBox(TComponent* owner) : TWinControl(owner, "TComboBox") {
  color_ = clWindow;
  SetBounds(0, 0, 145, 21);
}

void TComboBox::AddItem(const std::string& item) {
  items_.push_back(item);
  Changed(TProperty::Items);
}

void TComboBox::ClearItems() {
  items_.clear();
  itemIndex_ = -1;
  SetText("");
  Changed(TProperty::Items);
}

void TComboBox::SetItemIndex(int index) {
  if (index < 0 || index >= static_cast<int>(items_.size()))
    index = -1;
  if (index == itemIndex_)
    return;
  itemIndex_ = index;
  SetText(index < 0 ? std::string() : items_[static_cast<size_t>(index)]);
  Changed(TProperty::ItemIndex);
}

void TComboBox::SelectText(const std::string& text) {
  const auto found = std::find(items_.begin(), items_.end(), text);
  SetItemIndex(found == items_.end() ? -1 : static_cast<int>(found - items_.begin()));
}

void TComboBox::SelectItem(int index) {
  if (!CanFocus())
    return;
  SetItemIndex(index);
  if (OnChange) {
    const TNotifyEvent handler = OnChange;
    handler(this);
  }
}

}  // namespace vcl
