#include "vcl/Dialogs.h"

#include "vcl/Backend.h"

namespace vcl {

TOpenDialog::TOpenDialog(TComponent* owner) : TComponent(owner, "TOpenDialog") {}

bool TOpenDialog::Execute() {
  return backend().ExecuteOpenDialog(*this);
}

}  // namespace vcl
