// The speed button: a button that can stay down, alone or in a group.
#pragma once

#include "vcl/Controls.h"

namespace vcl {

class TSpeedButton : public TGraphicControl {
 public:
  explicit TSpeedButton(TComponent* owner);

  // Buttons of one parent with the same non-zero GroupIndex are a group: at
  // most one of them is down. With AllowAllUp the down one can go up again.
  int GroupIndex = 0;
  bool AllowAllUp = false;
  bool Flat = false;

  bool Down() const { return down_; }
  // As the class library sets it: never down without a group; a down button
  // of a group without AllowAllUp does not go up; going down puts the
  // group's other buttons up.
  void SetDown(bool down);

  // A user's click: a grouped button goes down, or up when it is down and
  // AllowAllUp; then OnClick.
  void Click() override;

 private:
  bool down_ = false;
};

}  // namespace vcl
