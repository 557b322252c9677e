// A form's icon in the notification area. It keeps what it shows, so that it
// can put itself back when the shell has lost it: when the shell makes its
// task bar anew (it restarted, or it started after the program) the owning
// form's window hears of it and every icon it owns that was added and not
// removed is added again; and a change the shell refuses adds the icon again.
// The owning form receives the icon's mouse messages as CallbackMessage, with
// the mouse message in LParam.
#pragma once

#include <cstdint>
#include <string>

#include "vcl/Backend.h"
#include "vcl/Classes.h"

namespace vcl {

class TForm;

class TTrayIcon : public TComponent {
 public:
  explicit TTrayIcon(TForm* owner);
  // Removes the icon, as Remove does.
  ~TTrayIcon() override;

  // What the icon shows, read by Add and Modify.
  uint32_t ID = 1;
  uint32_t CallbackMessage = 0;
  TTrayIconImage Image = TTrayIconImage::Window;
  std::string Tip;

  // Puts the icon there (NIM_ADD). From now on it is wanted: the shell's new
  // task bar gets it again even when this add was refused. False when refused.
  bool Add();
  // Shows the fields now (NIM_MODIFY). When the shell refuses, the icon is
  // added again, once. False when that was refused too.
  bool Modify();
  // Takes the icon away (NIM_DELETE); it is no longer wanted.
  void Remove();
  bool Wanted() const { return wanted_; }
  // The shell took the last add or change (as far as the program can tell:
  // a shell that loses its icons says so only with its new task bar).
  bool Shown() const { return shown_; }

  // The owning form's window heard that the shell's task bar is new.
  void TaskbarCreated();

 private:
  TrayIconData Data() const;
  TForm& form_;
  bool wanted_ = false;
  bool shown_ = false;
};

}  // namespace vcl
