// Windows: work posted to the loop, and its timers, go on while a native
// modal loop (a system message box, a popup menu) pumps the messages.
#ifdef _WIN32
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>

#include "platform/EventLoop.h"

namespace {

// Pumps as a system message box does, until PostQuitMessage or a bound.
void NativeModalLoop(DWORD boundMs) {
  const ULONGLONG end = GetTickCount64() + boundMs;
  MSG msg;
  while (GetTickCount64() < end) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT)
        return;
      DispatchMessageA(&msg);
    }
  }
}

TEST(ForeignLoopTest, PostedWorkAndTimersRunInsideANativeModalLoop) {
  platform::EventLoop loop(platform::NewNativeWaiter());
  bool posted = false;
  int ticks = 0;
  loop.SetTimer(5, [&] {
    if (++ticks == 3)
      PostQuitMessage(0);
  });
  loop.Post([&] { posted = true; });
  NativeModalLoop(5000);
  EXPECT_TRUE(posted);
  EXPECT_EQ(ticks, 3);
}

}  // namespace
#endif
