// Windows: work posted to the loop, and its timers, go on while a native
// modal loop (a system message box, a popup menu) pumps the messages; the
// native loop keeps its own input, and a timer does not enter itself again.
// A start delay answers what other programs send, and nothing else.
#ifdef _WIN32
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>

#include "platform/EventLoop.h"

namespace {

constexpr UINT kOwnInput = WM_APP + 7;

// Pumps as a system message box does, until PostQuitMessage, a thread message
// kOwnInput (returns true) or a bound.
bool NativeModalLoop(DWORD boundMs) {
  const ULONGLONG end = GetTickCount64() + boundMs;
  MSG msg;
  while (GetTickCount64() < end) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT)
        return false;
      if (msg.message == kOwnInput && !msg.hwnd)
        return true;
      DispatchMessageA(&msg);
    }
  }
  return false;
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

TEST(ForeignLoopTest, TheLoopsWorkLeavesTheNativeLoopsInputAndATimerDoesNotEnterItselfAgain) {
  platform::EventLoop loop(platform::NewNativeWaiter());
  // The post's wake-up comes first; the input behind it is the native loop's.
  bool posted = false;
  loop.Post([&] { posted = true; });
  PostThreadMessageA(GetCurrentThreadId(), kOwnInput, 0, 0);
  EXPECT_TRUE(NativeModalLoop(5000));
  EXPECT_TRUE(posted);

  // A timer whose handler opens a box: the box's loop runs the other timers,
  // not the handler again.
  int depth = 0, deepest = 0, boxes = 0, others = 0;
  loop.SetTimer(5, [&] {
    deepest = std::max(deepest, ++depth);
    if (++boxes == 1)
      NativeModalLoop(300);
    --depth;
  });
  loop.SetTimer(5, [&] {
    if (++others >= 10 && boxes > 0 && depth == 0)
      PostQuitMessage(0);
  });
  NativeModalLoop(5000);
  EXPECT_EQ(deepest, 1);
  EXPECT_GE(others, 10);
}

LRESULT CALLBACK CountingProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg >= WM_APP) {
    ++reinterpret_cast<int*>(GetWindowLongPtrA(window, GWLP_USERDATA))[msg - WM_APP];
    return 1;
  }
  return DefWindowProcA(window, msg, wParam, lParam);
}

TEST(ForeignLoopTest, AStartDelayAnswersSentMessagesAndLeavesPostedOnes) {
  platform::EventLoop loop(platform::NewNativeWaiter());
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = CountingProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "KorvaDelayTest";
  RegisterClassA(&windowClass);
  HWND window = CreateWindowA("KorvaDelayTest", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
  int counts[2] = {0, 0};  // posted, sent
  SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(counts));
  PostMessageA(window, WM_APP, 0, 0);

  std::atomic<bool> sleeping{true};
  bool answeredWhileSleeping = false;
  std::thread sender([&] {
    DWORD_PTR result = 0;
    answeredWhileSleeping =
        SendMessageTimeoutA(window, WM_APP + 1, 0, 0, SMTO_NORMAL, 1500, &result) && sleeping;
  });
  loop.SleepAnsweringSent(500);
  sleeping = false;
  sender.join();
  EXPECT_TRUE(answeredWhileSleeping);
  EXPECT_EQ(counts[1], 1);
  EXPECT_EQ(counts[0], 0);
  DestroyWindow(window);
}

}  // namespace
#endif
