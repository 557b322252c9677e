#include "monitor/DeviceList.h"

#include "monitor/lang.h"

namespace monitor {

TfrmDeviceList* frmDeviceList = nullptr;

TfrmDeviceList::TfrmDeviceList(vcl::TComponent* owner) : vcl::TForm(owner, "TfrmDeviceList") {
  SetName("frmDeviceList");
  BorderStyle = vcl::bsDialog;
  Position = vcl::poScreenCenter;
  SetClientWidth(260);
  SetClientHeight(110);
  lblDeviceSelect = vcl::Place<vcl::TLabel>(this, this, "lblDeviceSelect", 12, 12, 236, 16);
  cbDevices = vcl::Place<vcl::TComboBox>(this, this, "cbDevices", 12, 34, 236, 21);
  btnClose = vcl::Place<vcl::TButton>(this, this, "btnClose", 92, 72, 75, 25);
  btnClose->SetCaption("&OK");
  btnClose->Cancel = true;
  btnClose->ModalResult = vcl::mrOk;
  OnCreate = [this](vcl::TObject* sender) { FormCreate(sender); };
}

TfrmDeviceList::~TfrmDeviceList() {
  if (frmDeviceList == this)
    frmDeviceList = nullptr;
}

void TfrmDeviceList::FormCreate(vcl::TObject*) {
  SetCaption(GetLangString(45));
  lblDeviceSelect->SetCaption(GetLangString(46));
}

}  // namespace monitor
