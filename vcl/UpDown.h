// The up-down: a pair of arrows that move a number between Min and Max, shown
// in an associated edit. Reaching an end, the number stops there, or with
// Wrap goes round to the other end.
#pragma once

#include <cstdint>
#include <functional>

#include "vcl/Controls.h"

namespace vcl {

enum TUDBtnType { btNext, btPrev };  // the up and the down arrow

// Runs before every change of the position; a handler may refuse it.
using TUDChangingEvent = std::function<void(TObject* sender, bool& allowChange)>;

class TUpDown : public TWinControl {
 public:
  explicit TUpDown(TComponent* owner);

  int Min() const { return min_; }
  int Max() const { return max_; }
  // Sets both ends; the position is moved into the new range.
  void SetRange(int min, int max);
  int Increment = 1;
  bool Wrap = false;

  int Position() const { return position_; }
  // A new position, held within Min and Max. A change runs OnChanging first,
  // by code as by the user, and then shows the number in the associate.
  void SetPosition(int position);

  // The edit that shows the position as decimal text (null: none).
  TWinControl* Associate() const { return associate_; }
  void SetAssociate(TWinControl* associate);

  TUDChangingEvent OnChanging;

  // A user's click on an arrow: one Increment up or down, stopping or
  // wrapping at the ends. A disabled or hidden up-down takes no input.
  void ClickButton(TUDBtnType button);

 protected:
  void Notification(TComponent* component, TOperation operation) override;

 private:
  void ShowInAssociate();

  int min_ = 0;
  int max_ = 100;
  int position_ = 0;
  TWinControl* associate_ = nullptr;
};

}  // namespace vcl
