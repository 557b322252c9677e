#include "vcl/GroupBox.h"

namespace vcl {

TGroupBox::TGroupBox(TComponent* owner) : TWinControl(owner, "TGroupBox") {
  SetBounds(0, 0, 185, 105);
}

}  // namespace vcl
