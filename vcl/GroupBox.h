// The group box: a framed container with its caption on the frame. Disabling
// it disables everything in it.
#pragma once

#include "vcl/Controls.h"

namespace vcl {

class TGroupBox : public TWinControl {
 public:
  explicit TGroupBox(TComponent* owner);
};

}  // namespace vcl
