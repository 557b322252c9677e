// What the fuzz targets of the process variables share: the toolkit started
// once with the default format settings, and actions whose errors of the
// class library or the toolkit are expected.
#pragma once

#include "toolkit/Toolkit.h"
#include "vcl/SysUtils.h"

namespace var_fuzz {

inline void Prepare() {
  static const bool prepared = [] {
    toolkit::Initialize();
    vcl::FormatSettings() = vcl::TFormatSettings{};
    return true;
  }();
  (void)prepared;
}

// Runs `action`; one of our errors is an answer, anything else escapes.
template <class Action>
void Try(Action&& action) {
  try {
    action();
  } catch (const vcl::Exception&) {
  }
}

}  // namespace var_fuzz
