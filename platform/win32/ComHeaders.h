// The platform's COM and OLE automation declarations, for platform/com/Com.h
// on Windows. <windows.h> defines some names of the class library (window
// messages, key codes, PostMessage, SendMessage) as macros; they are taken
// back here so both can be included together, in either order (a test
// includes this first, then the library, so a name added there and
// missing here fails the Windows build). Windows code that includes this
// spells those functions out (PostMessageW) and takes messages from vcl.
#pragma once

// clang-format off
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <ocidl.h>
#include <olectl.h>
#include <comcat.h>
// clang-format on

#undef PostMessage
#undef SendMessage
#undef SendNotifyMessage
#undef WM_NULL
#undef WM_DESTROY
#undef WM_ACTIVATE
#undef WM_CLOSE
#undef WM_QUERYENDSESSION
#undef WM_QUIT
#undef WM_ENDSESSION
#undef WM_KEYDOWN
#undef WM_KEYUP
#undef WM_CHAR
#undef WM_SYSKEYDOWN
#undef WM_COMMAND
#undef WM_SYSCOMMAND
#undef WM_TIMER
#undef WM_MOUSEMOVE
#undef WM_LBUTTONDOWN
#undef WM_LBUTTONUP
#undef WM_LBUTTONDBLCLK
#undef WM_RBUTTONDOWN
#undef WM_RBUTTONUP
#undef WM_HOTKEY
#undef WM_USER
#undef WM_APP
#undef VK_BACK
#undef VK_TAB
#undef VK_RETURN
#undef VK_SHIFT
#undef VK_CONTROL
#undef VK_MENU
#undef VK_ESCAPE
#undef VK_SPACE
#undef VK_F1
#undef MOD_ALT
#undef MOD_CONTROL
#undef MOD_SHIFT
