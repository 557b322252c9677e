#include "monitor/DeviceList.h"

namespace monitor {

TfrmDeviceList* frmDeviceList = nullptr;

TfrmDeviceList::TfrmDeviceList(vcl::TComponent* owner) : vcl::TForm(owner, "TfrmDeviceList") {
  SetName("frmDeviceList");
  BorderStyle = vcl::bsDialog;
  Position = vcl::poScreenCenter;
}

TfrmDeviceList::~TfrmDeviceList() {
  if (frmDeviceList == this)
    frmDeviceList = nullptr;
}

}  // namespace monitor
