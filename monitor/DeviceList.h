// Unit DeviceList: the dialog that would let the user choose among the USB
// devices. The module is chosen by its description instead, so the program
// makes the dialog with its other windows and never shows or fills it.
#pragma once

#include "vcl/ComboBox.h"
#include "vcl/Forms.h"
#include "vcl/StdCtrls.h"

namespace monitor {

class TfrmDeviceList : public vcl::TForm {
 public:
  explicit TfrmDeviceList(vcl::TComponent* owner);
  ~TfrmDeviceList() override;

  vcl::TLabel* lblDeviceSelect;
  vcl::TComboBox* cbDevices;
  // "&OK", also the Escape key's: closes the dialog with OK.
  vcl::TButton* btnClose;

  // Caption and label from the language texts 45 and 46.
  void FormCreate(vcl::TObject* sender);
};

// The device-list dialog while it exists.
extern TfrmDeviceList* frmDeviceList;

}  // namespace monitor
