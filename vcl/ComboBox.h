// The combo box as a pick-only list that drops down: the user chooses one of
// its items; Text is the chosen item's text.
#pragma once

#include <string>
#include <vector>

#include "vcl/Controls.h"

namespace vcl {

class TComboBox : public TWinControl {
 public:
  explicit TComboBox(TComponent* owner);

  const std::vector<std::string>& Items() const { return items_; }
  void AddItem(const std::string& item);
  // Empties the list; nothing is chosen then.
  void ClearItems();

  // -1: none chosen. An index outside the list chooses none. Set by code:
  // OnChange does not run.
  int ItemIndex() const { return itemIndex_; }
  void SetItemIndex(int index);
  // Chooses the item with exactly this text, or none when there is no such item.
  void SelectText(const std::string& text);

  // A user's choice: the item becomes chosen, then OnChange. A disabled or
  // hidden box takes no input.
  void SelectItem(int index);

  TNotifyEvent OnChange;

 private:
  std::vector<std::string> items_;
  int itemIndex_ = -1;
};

}  // namespace vcl
