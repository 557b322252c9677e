// The class library's Win32 backend: real top-level windows (one window class
// per form class, named as the form's class), child controls (BUTTON, STATIC,
// EDIT, msctls_statusbar32, owner-drawn images), popup menus, tooltips for
// hints, and the application's hidden "TApplication" window.
//
// Every message of a form's window goes to the form's WndProc; what it passes
// on is handled here (control notifications, colours, painting) and then by
// DefWindowProc. Install it on the loop thread before any form has a handle,
// and put the headless one back (vcl::SetBackend(nullptr)) after
// vcl::Application().Done():
//
//   auto backend = vcl::win32::NewBackend();
//   vcl::SetBackend(backend.get());
//   ... Application().Run(); Application().Done();
//   vcl::SetBackend(nullptr);
#pragma once

#include <memory>

#include "vcl/Backend.h"

namespace vcl::win32 {

std::unique_ptr<Backend> NewBackend();

}  // namespace vcl::win32
