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

#include <cstdint>
#include <memory>

#include "vcl/Backend.h"

namespace vcl::win32 {

std::unique_ptr<Backend> NewBackend();

// Whether bringing a window forward shares the foreground window's thread
// input for the moment (Windows lets only that thread hand the foreground
// on): not when it is our own thread or there is none, and not when that
// program hangs, since the attach would wait for it.
bool ShareForegroundInput(uint32_t ownThread, uint32_t foregroundThread, bool foregroundHung);

}  // namespace vcl::win32
