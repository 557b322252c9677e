#include "vcl/TrayIcon.h"

#include "vcl/Forms.h"

namespace vcl {

TTrayIcon::TTrayIcon(TForm* owner) : TComponent(owner, "TTrayIcon"), form_(*owner) {}

TTrayIcon::~TTrayIcon() {
  Remove();
}

TrayIconData TTrayIcon::Data() const {
  return TrayIconData{ID, CallbackMessage, Image, Tip};
}

bool TTrayIcon::Add() {
  wanted_ = true;
  form_.Handle();  // the icon's messages need the window
  shown_ = backend().AddTrayIcon(form_, Data());
  return shown_;
}

bool TTrayIcon::Modify() {
  if (backend().ModifyTrayIcon(form_, Data()))
    return shown_ = true;
  return Add();
}

void TTrayIcon::Remove() {
  if (!wanted_)
    return;
  wanted_ = false;
  shown_ = false;
  if (form_.HandleAllocated())
    backend().RemoveTrayIcon(form_, ID);
}

void TTrayIcon::TaskbarCreated() {
  if (wanted_)
    Add();
}

}  // namespace vcl
