// Unit DeviceList: the dialog that lists the USB devices to choose from.
#pragma once

#include "vcl/Forms.h"

namespace monitor {

class TfrmDeviceList : public vcl::TForm {
 public:
  explicit TfrmDeviceList(vcl::TComponent* owner);
  ~TfrmDeviceList() override;
};

// The device-list dialog while it exists.
extern TfrmDeviceList* frmDeviceList;

}  // namespace monitor
