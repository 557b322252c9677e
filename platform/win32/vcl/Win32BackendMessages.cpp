// What the windows hear. Windows calls these procedures, not the class
// library, so each finds the backend and the form or control behind the
// window and hands the message on; every call into the class library is
// Guarded, since an exception must not cross a window procedure. What a
// form's WndProc passes on ends in DefaultHandler; the notifications, colours
// and keys that forms and containers share are handled once, for both.
#include <algorithm>
#include <cstdint>
#include <string>

#include "platform/win32/vcl/Win32BackendImpl.h"

namespace vcl::win32::detail {
namespace {

TShiftState KeyShift() {
  TShiftState shift = 0;
  if (GetKeyState(VK_SHIFT) < 0)
    shift |= ssShift;
  if (GetKeyState(VK_CONTROL) < 0)
    shift |= ssCtrl;
  if (GetKeyState(VK_MENU) < 0)
    shift |= ssAlt;
  return shift;
}

TShiftState MouseShift(WPARAM keys) {
  TShiftState shift = 0;
  if (keys & MK_SHIFT)
    shift |= ssShift;
  if (keys & MK_CONTROL)
    shift |= ssCtrl;
  if (GetKeyState(VK_MENU) < 0)
    shift |= ssAlt;
  if (keys & MK_LBUTTON)
    shift |= ssLeft;
  if (keys & MK_RBUTTON)
    shift |= ssRight;
  if (keys & MK_MBUTTON)
    shift |= ssMiddle;
  return shift;
}

int LowSigned(LPARAM value) {
  return static_cast<short>(LOWORD(value));
}
int HighSigned(LPARAM value) {
  return static_cast<short>(HIWORD(value));
}

std::string WindowText(HWND hwnd) {
  const int length = GetWindowTextLengthA(hwnd);
  std::string text(static_cast<size_t>(length) + 1, '\0');
  const int copied = GetWindowTextA(hwnd, text.data(), length + 1);
  text.resize(static_cast<size_t>(std::max(copied, 0)));
  return text;
}

}  // namespace

// The application's window owns the other forms' windows: closing it as the
// system would (destroying it) would take them along. A close request to it
// closes the main form instead, which ends the program in order.
LRESULT CALLBACK Win32Backend::ApplicationProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_CLOSE) {
    Guarded([] {
      if (TForm* main = Application().MainForm())
        main->Close();
    });
    return 0;
  }
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

LRESULT CALLBACK Win32Backend::FormProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    if (current)
      current->forms_[static_cast<TForm*>(create->lpCreateParams)].hwnd = hwnd;
  }
  auto* form = reinterpret_cast<TForm*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (!form || !current)
    return DefWindowProcA(hwnd, msg, wParam, lParam);
  TMessage message{msg, wParam, lParam, 0};
  bool failed = false;
  Guarded([&] {
    try {
      form->WndProc(message);
    } catch (...) {
      failed = true;
      throw;
    }
  });
  if (failed)
    return DefWindowProcA(hwnd, msg, wParam, lParam);
  return message.Result;
}

void Win32Backend::DefaultHandler(TForm& form, TMessage& message) {
  HWND hwnd = FormWindow(form);
  const UINT msg = message.Msg;
  const WPARAM wParam = message.WParam;
  const LPARAM lParam = message.LParam;
  if (!hwnd) {
    message.Result = 0;
    return;
  }
  LRESULT result = 0;
  if (HandleCommon(msg, wParam, lParam, result)) {
    message.Result = result;
    return;
  }
  switch (msg) {
    case WM_ERASEBKGND: {
      RECT rect;
      GetClientRect(hwnd, &rect);
      FillRect(reinterpret_cast<HDC>(wParam), &rect, Brush(ToColorRef(form.Color())));
      message.Result = 1;
      return;
    }
    case WM_ACTIVATE:
      if (LOWORD(wParam) == WA_INACTIVE) {
        form.Deactivate();
      } else {
        form.Activate();
      }
      break;
    case WM_KEYDOWN:
      if (!HandleKey(form, wParam)) {
        message.Result = 0;
        return;
      }
      break;
    case WM_CHAR:
      if (swallowChar_) {
        swallowChar_ = false;
        message.Result = 0;
        return;
      }
      break;
    case WM_MOUSEMOVE:
      form.MouseMove(MouseShift(wParam), LowSigned(lParam), HighSigned(lParam));
      break;
    case WM_LBUTTONUP:
      // A click on the form's own background (its controls take theirs).
      form.Click();
      break;
    case WM_WINDOWPOSCHANGED: {
      RECT rect;
      if (!IsIconic(hwnd) && GetWindowRect(hwnd, &rect)) {
        NativeUpdate fromWindow(form);
        form.SetBounds(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
      }
      break;
    }
    default:
      break;
  }
  message.Result = DefWindowProcA(hwnd, msg, wParam, lParam);
}

bool Win32Backend::HandleKey(TControl& control, WPARAM key) {
  auto* windowed = dynamic_cast<TWinControl*>(&control);
  if (!windowed)
    windowed = control.ParentForm();
  if (!windowed)
    return true;
  const uint16_t left = windowed->KeyDown(static_cast<uint16_t>(key), KeyShift());
  if (left == 0) {
    swallowChar_ = true;  // its character message is on its way already
    return false;
  }
  return true;
}

// Control notifications and colours, for forms and containers alike; false for
// any other message.
bool Win32Backend::HandleCommon(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (msg) {
    case WM_COMMAND: {
      HWND child = reinterpret_cast<HWND>(lParam);
      TControl* control = child ? ControlOf(child) : nullptr;
      if (!control)
        return false;
      const WORD code = HIWORD(wParam);
      result = 0;
      if (auto* group = dynamic_cast<TRadioGroup*>(control);
          group && child != natives_[group].hwnd) {
        if (code == BN_CLICKED)
          group->ClickItem(radioIndex_[child]);
      } else if (auto* edit = dynamic_cast<TEdit*>(control)) {
        if (code == EN_CHANGE) {
          NativeUpdate typed(*edit);
          edit->SetText(WindowText(child));
        }
      } else if (dynamic_cast<TButton*>(control) || dynamic_cast<TSpeedButton*>(control) ||
                 dynamic_cast<TCheckBox*>(control)) {
        if (code == BN_CLICKED)
          control->Click();
      } else if (auto* combo = dynamic_cast<TComboBox*>(control)) {
        if (code == CBN_SELCHANGE) {
          const int index = static_cast<int>(SendMessageA(child, CB_GETCURSEL, 0, 0));
          NativeUpdate chosen(*combo);
          combo->SelectItem(index);
        }
      } else if (code == STN_CLICKED) {
        control->Click();
      }
      return true;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORBTN: {
      TControl* control = ControlOf(reinterpret_cast<HWND>(lParam));
      if (!control)
        return false;
      HDC dc = reinterpret_cast<HDC>(wParam);
      const COLORREF background = ToColorRef(BackgroundOf(*control));
      SetTextColor(dc, ToColorRef(control->Font().Color));
      SetBkColor(dc, background);
      result = reinterpret_cast<LRESULT>(Brush(background));
      return true;
    }
    case WM_DRAWITEM: {
      auto* item = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
      auto* image = dynamic_cast<TImage*>(ControlOf(item->hwndItem));
      if (!image)
        return false;
      PaintImage(*image, item->hDC, item->rcItem);
      result = TRUE;
      return true;
    }
    case WM_NOTIFY: {
      auto* header = reinterpret_cast<NMHDR*>(lParam);
      if (header->code == TCN_SELCHANGE) {
        auto* pages = dynamic_cast<TPageControl*>(ControlOf(header->hwndFrom));
        if (!pages)
          return false;
        const int index = static_cast<int>(SendMessageA(header->hwndFrom, TCM_GETCURSEL, 0, 0));
        NativeUpdate chosen(*pages);
        pages->SelectTab(index);
        result = 0;
        return true;
      }
      if (header->code == UDN_DELTAPOS) {
        auto* upDown = dynamic_cast<TUpDown*>(ControlOf(header->hwndFrom));
        if (!upDown)
          return false;
        const int delta = reinterpret_cast<NMUPDOWN*>(lParam)->iDelta;
        if (delta != 0)
          upDown->ClickButton(delta > 0 ? btNext : btPrev);
        // The class library moved the position (or kept it): the native
        // control follows it rather than making a change of its own.
        result = 1;
        return true;
      }
      if (header->code != TTN_GETDISPINFOA)
        return false;
      auto* info = reinterpret_cast<NMTTDISPINFOA*>(lParam);
      TControl* control = ControlOf(reinterpret_cast<HWND>(header->idFrom));
      std::string text;
      if (!control || !Application().HintFor(*control, text))
        text.clear();
      // The hint hook breaks lines with CR alone; the tooltip wants CR LF.
      hintText_.clear();
      for (size_t i = 0; i < text.size(); ++i) {
        hintText_ += text[i];
        if (text[i] == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n'))
          hintText_ += '\n';
      }
      info->lpszText = hintText_.data();
      info->hinst = nullptr;
      result = 0;
      return true;
    }
    default:
      return false;
  }
}

LRESULT CALLBACK Win32Backend::ContainerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  Win32Backend* self = current;
  auto* control = self ? dynamic_cast<TWinControl*>(self->ControlOf(hwnd)) : nullptr;
  if (!control)
    return DefWindowProcA(hwnd, msg, wParam, lParam);
  LRESULT result = 0;
  bool handled = false;
  Guarded([&] {
    if (self->HandleCommon(msg, wParam, lParam, result)) {
      handled = true;
      return;
    }
    switch (msg) {
      case WM_ERASEBKGND:
        handled = true;
        result = 1;
        break;
      case WM_PAINT:
        self->PaintContainer(*control, hwnd);
        handled = true;
        break;
      case WM_MOUSEMOVE:
        control->MouseMove(MouseShift(wParam), LowSigned(lParam), HighSigned(lParam));
        break;
      default:
        break;
    }
  });
  return handled ? result : DefWindowProcA(hwnd, msg, wParam, lParam);
}

LRESULT CALLBACK Win32Backend::ChildProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto old = reinterpret_cast<WNDPROC>(GetPropA(hwnd, kOldProcProp));
  if (msg == WM_NCDESTROY)
    RemovePropA(hwnd, kOldProcProp);
  Win32Backend* self = current;
  TControl* control = self ? self->ControlOf(hwnd) : nullptr;
  if (control && msg == WM_LBUTTONDOWN) {
    // The control takes the press first (focus, capture); then the class
    // library's handler, which may move the focus and so cancel the click.
    const LRESULT result = old ? CallWindowProcA(old, hwnd, msg, wParam, lParam)
                               : DefWindowProcA(hwnd, msg, wParam, lParam);
    if (self->ControlOf(hwnd) == control) {
      Guarded([&] {
        control->MouseDown(mbLeft, MouseShift(wParam), LowSigned(lParam), HighSigned(lParam));
      });
    }
    return result;
  }
  if (control) {
    bool passOn = true;
    Guarded([&] {
      switch (msg) {
        case WM_SETFOCUS:
          if (auto* windowed = dynamic_cast<TWinControl*>(control)) {
            NativeUpdate focused(*windowed);
            windowed->SetFocus();
          }
          break;
        case WM_KEYDOWN:
          passOn = self->HandleKey(*control, wParam);
          break;
        case WM_CHAR:
          if (self->swallowChar_) {
            self->swallowChar_ = false;
            passOn = false;
          }
          break;
        case WM_MOUSEMOVE:
          control->MouseMove(MouseShift(wParam), LowSigned(lParam), HighSigned(lParam));
          break;
        case WM_LBUTTONDBLCLK:
          control->DblClick();
          break;
        default:
          break;
      }
    });
    if (!passOn)
      return 0;
  }
  return old ? CallWindowProcA(old, hwnd, msg, wParam, lParam)
             : DefWindowProcA(hwnd, msg, wParam, lParam);
}

}  // namespace vcl::win32::detail
