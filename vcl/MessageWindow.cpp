#include "vcl/MessageWindow.h"

#include <future>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/EventLoop.h"
#include "vcl/Forms.h"

namespace vcl {
namespace {

// Handles with bit 63 set and bit 62 clear: never a headless form's (small
// numbers) nor a Win32 window's (a 32-bit value, sign-extended).
constexpr TWindowHandle kFirstHandle = TWindowHandle{1} << (sizeof(TWindowHandle) * 8 - 1);

struct Windows {
  std::mutex mutex;
  std::unordered_map<TWindowHandle, std::shared_ptr<const TMessageWindow::THandler>> handlers;
  TWindowHandle last = kFirstHandle;
};

Windows& TheWindows() {
  static Windows windows;
  return windows;
}

std::shared_ptr<const TMessageWindow::THandler> HandlerOf(TWindowHandle handle) {
  Windows& windows = TheWindows();
  const std::lock_guard lock(windows.mutex);
  const auto found = windows.handlers.find(handle);
  return found == windows.handlers.end() ? nullptr : found->second;
}

// On the loop thread: the window's handler, when the window still exists.
intptr_t Deliver(TWindowHandle handle, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  const auto handler = HandlerOf(handle);
  if (!handler)
    return 0;
  TMessage message{msg, wParam, lParam, 0};
  (*handler)(message);
  return message.Result;
}

}  // namespace

TMessageWindow::TMessageWindow(THandler handler) {
  Windows& windows = TheWindows();
  const std::lock_guard lock(windows.mutex);
  handle_ = ++windows.last;
  windows.handlers[handle_] = std::make_shared<const THandler>(std::move(handler));
}

TMessageWindow::~TMessageWindow() {
  std::shared_ptr<const THandler> gone;  // freed outside the lock
  Windows& windows = TheWindows();
  const std::lock_guard lock(windows.mutex);
  const auto found = windows.handlers.find(handle_);
  gone = std::move(found->second);
  windows.handlers.erase(found);
}

bool IsMessageWindow(TWindowHandle handle) {
  return HandlerOf(handle) != nullptr;
}

namespace detail {

bool PostToMessageWindow(TWindowHandle handle, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  if (!IsMessageWindow(handle))
    return false;
  platform::MainLoop().Post(
      [handle, msg, wParam, lParam] { Guarded([&] { Deliver(handle, msg, wParam, lParam); }); });
  return true;
}

intptr_t SendToMessageWindow(TWindowHandle handle, uint32_t msg, uintptr_t wParam,
                             intptr_t lParam) {
  platform::EventLoop& loop = platform::MainLoop();
  if (loop.IsLoopThread())
    return Deliver(handle, msg, wParam, lParam);
  if (!IsMessageWindow(handle))
    return 0;
  auto done = std::make_shared<std::promise<intptr_t>>();
  std::future<intptr_t> result = done->get_future();
  loop.Post([done, handle, msg, wParam, lParam] {
    intptr_t value = 0;
    Guarded([&] { value = Deliver(handle, msg, wParam, lParam); });
    done->set_value(value);
  });
  return result.get();
}

}  // namespace detail
}  // namespace vcl
