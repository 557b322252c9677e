#include "monitor/config.h"

namespace monitor {

TfrmConfig* frmConfig = nullptr;

TfrmConfig::TfrmConfig(vcl::TComponent* owner) : vcl::TForm(owner, "TfrmConfig") {
  SetName("frmConfig");
  BorderStyle = vcl::bsDialog;
  Position = vcl::poScreenCenter;
}

TfrmConfig::~TfrmConfig() {
  if (frmConfig == this)
    frmConfig = nullptr;
}

}  // namespace monitor
