// What the process-variable tests share: a form "Form1" owned by the
// application, a manual clock, the default format settings, and a recorder
// of a variable's announcements.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Services.h"
#include "toolkit/Clock.h"
#include "toolkit/PsVars.h"
#include "vcl/Forms.h"

namespace vars_test {

inline constexpr vcl::TDateTime kNow = 45000.25;

class VarsTest : public testing::Test {
 protected:
  VarsTest() {
    clock_.SetNow(kNow);
    form_ = new vcl::TComponent(&vcl::Application());
    form_->SetName("Form1");
  }

  template <class Kind>
  Kind* Make(const std::string& name) {
    auto* variable = new Kind(form_);
    variable->SetName(name);
    return variable;
  }

  vcl::ScopedFormatSettings settings_{vcl::TFormatSettings{}};
  toolkit::ManualClock clock_;
  platform::ScopedService<toolkit::Clock> installed_{clock_};
  vcl::ScopedApplication application_;
  vcl::TComponent* form_;
};

// The sets of kinds that OnChange announced, in order.
struct Announcements {
  std::vector<toolkit::TPsVarPropTypes> sets;
  void Listen(toolkit::TPsVar& variable) {
    variable.OnChange = [this](vcl::TObject*, toolkit::TPsVarPropTypes props) {
      sets.push_back(props);
    };
  }
};

}  // namespace vars_test
