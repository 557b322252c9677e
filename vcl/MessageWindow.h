// A window that only receives messages (the class library's utility window):
// a handle that vcl::PostMessage, SendMessage and SendNotifyMessage reach, and
// one handler that the application's event loop calls on its thread. No
// native window stands behind it, so nothing but the program's own messages
// arrives: the platform's broadcasts (activation, enabling, session end)
// never do.
#pragma once

#include <functional>

#include "vcl/Messages.h"

namespace vcl {

class TMessageWindow {
 public:
  using THandler = std::function<void(TMessage& message)>;

  explicit TMessageWindow(THandler handler);
  // Loop thread. Messages still queued for the window are dropped.
  ~TMessageWindow();
  TMessageWindow(const TMessageWindow&) = delete;
  TMessageWindow& operator=(const TMessageWindow&) = delete;

  TWindowHandle Handle() const { return handle_; }

 private:
  TWindowHandle handle_;
};

// Whether the handle is a message window's (one that exists now).
bool IsMessageWindow(TWindowHandle handle);

namespace detail {
// The message windows' side of PostMessage, SendMessage and SendNotifyMessage.
bool PostToMessageWindow(TWindowHandle handle, uint32_t msg, uintptr_t wParam, intptr_t lParam);
intptr_t SendToMessageWindow(TWindowHandle handle, uint32_t msg, uintptr_t wParam, intptr_t lParam);
}  // namespace detail

}  // namespace vcl
