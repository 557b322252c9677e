// Unit config: korvamon's settings dialog. It is created at the start, right
// after the main window, and lives until the program ends; the main window
// shows it modally from its settings command.
#pragma once

#include "vcl/Forms.h"

namespace monitor {

class TfrmConfig : public vcl::TForm {
 public:
  explicit TfrmConfig(vcl::TComponent* owner);
  ~TfrmConfig() override;

  // Set when the user saved with the write protection chosen: the main window
  // then makes the settings file read-only.
  bool WriteProtectRequested = false;
};

// The settings dialog while it exists.
extern TfrmConfig* frmConfig;

}  // namespace monitor
