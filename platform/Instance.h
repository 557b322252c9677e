// Reaching the instance of the program that runs already: a later instance
// asks it to show its main window, as a double click on its tray icon would.
// On Windows the request is a window message found by class and title; on
// POSIX it travels over a local socket that the running instance listens on.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform {

// Sends message `msg` to the window of class `formClass` of the instance whose
// application window is titled `appTitle`, and brings that window to the
// front. False when no such instance (or window) was found, or when it did
// not take the request within a few seconds (it is busy or hung).
bool SendToRunningInstance(const std::string& appTitle, const std::string& formClass, uint32_t msg,
                           uintptr_t wParam, intptr_t lParam);

// The running instance's side. While it lives, requests sent by later
// instances are handed to `deliver` on the main loop's thread; requests still
// queued when it goes are dropped. On Windows window messages need no listener
// and this does nothing. Nothing when no listener could be set up (POSIX:
// another instance listens already, or the socket cannot be made).
class InstanceRequests {
 public:
  using Deliver = std::function<void(const std::string& formClass, uint32_t msg, uintptr_t wParam,
                                     intptr_t lParam)>;
  virtual ~InstanceRequests() = default;
  static std::unique_ptr<InstanceRequests> Listen(const std::string& appTitle, Deliver deliver);
};

}  // namespace platform
