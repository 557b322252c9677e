// What the class library's tests stand on: the virtual clock, a fresh
// application, and the headless backend with nothing scripted.
#pragma once

#include "TestEnvironment.h"
#include "vcl/Backend.h"
#include "vcl/Forms.h"

namespace korva_test {

class VclTest : public VirtualTimeTest {
 protected:
  VclTest() { ResetHeadless(); }
  ~VclTest() override { ResetHeadless(); }

  static void ResetHeadless() {
    vcl::HeadlessBackend& headless = vcl::Headless();
    headless.modalAnswer = nullptr;
    headless.openDialogAnswer = nullptr;
    vcl::Screen().SetCursor(vcl::crDefault);
    headless.cursors.clear();
    headless.modalForms.clear();
    headless.broughtToFront.clear();
    headless.keysDown.clear();
    headless.cursorPos = {};
    headless.trayShell = true;
    headless.trayIcons.clear();
    headless.trayIconAdds = 0;
  }

  vcl::HeadlessBackend& headless() { return vcl::Headless(); }

 private:
  vcl::ScopedApplication application_;
};

// Controls tried on a form of their own.
class FormTest : public VclTest {
 protected:
  template <class T>
  T* Add(vcl::TWinControl* parent = nullptr) {
    T* control = new T(form);
    control->SetParent(parent ? parent : form);
    return control;
  }

  vcl::TForm* form = vcl::Application().CreateForm<vcl::TForm>();
};

}  // namespace korva_test
