// The controls' native windows. Each kind of control becomes the system's
// own control (BUTTON, EDIT, COMBOBOX, ...), so that it looks and behaves as
// the user knows it, or else a container that paints itself; Changed carries
// every property the class library changes over to the window, so that the
// two never drift apart.
#include <algorithm>
#include <string>
#include <vector>

#include "platform/win32/vcl/Win32BackendImpl.h"

namespace vcl::win32::detail {
namespace {

// The height of a drop-down list's open list, below its edit part.
constexpr int kComboListHeight = 200;

}  // namespace

void Win32Backend::CreateChildren(TWinControl& parent) {
  const std::vector<TControl*> children = parent.ControlList();
  for (TControl* child : children)
    CreateNative(*child);
}

void Win32Backend::CreateNative(TControl& control) {
  if (natives_.count(&control) || dynamic_cast<TForm*>(&control))
    return;
  HWND parent = ParentWindow(control.Parent());
  if (!parent)
    return;

  const char* windowClass = kContainerClass;
  DWORD style = WS_CHILD | WS_CLIPSIBLINGS;
  DWORD exStyle = 0;
  bool subclass = true;
  if (control.Visible())
    style |= WS_VISIBLE;
  if (!control.EffectiveEnabled())
    style |= WS_DISABLED;

  if (auto* button = dynamic_cast<TButton*>(&control)) {
    windowClass = "BUTTON";
    style |= WS_TABSTOP | (button->Default ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
  } else if (dynamic_cast<TSpeedButton*>(&control)) {
    windowClass = "BUTTON";
    style |= BS_CHECKBOX | BS_PUSHLIKE;
  } else if (dynamic_cast<TCheckBox*>(&control)) {
    // Not an automatic box: the class library toggles it on BN_CLICKED.
    windowClass = "BUTTON";
    style |= WS_TABSTOP | BS_CHECKBOX;
  } else if (dynamic_cast<TComboBox*>(&control)) {
    windowClass = "COMBOBOX";
    style |= WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST;
  } else if (dynamic_cast<TUpDown*>(&control)) {
    windowClass = UPDOWN_CLASSA;
    style |= UDS_ARROWKEYS | UDS_NOTHOUSANDS;
  } else if (dynamic_cast<TPageControl*>(&control)) {
    windowClass = WC_TABCONTROLA;
    style |= WS_TABSTOP | WS_CLIPCHILDREN;
  } else if (auto* label = dynamic_cast<TLabel*>(&control)) {
    windowClass = "STATIC";
    style |= SS_NOTIFY;
    switch (label->Alignment) {
      case taCenter:
        style |= SS_CENTER;
        break;
      case taRightJustify:
        style |= SS_RIGHT;
        break;
      case taLeftJustify:
        style |= label->WordWrap ? SS_LEFT : SS_LEFTNOWORDWRAP;
        break;
    }
  } else if (auto* edit = dynamic_cast<TEdit*>(&control)) {
    windowClass = "EDIT";
    style |= WS_TABSTOP | (edit->ReadOnly() ? ES_READONLY : 0);
    if (auto* memo = dynamic_cast<TMemo*>(edit)) {
      style |= ES_MULTILINE | ES_AUTOVSCROLL | (memo->VerticalScrollBar ? WS_VSCROLL : 0);
    } else {
      style |= ES_AUTOHSCROLL;
    }
    exStyle |= WS_EX_CLIENTEDGE;
  } else if (auto* rich = dynamic_cast<TRichEdit*>(&control)) {
    // A multi-line edit. It stays enabled: a disabled edit greys its text,
    // and read-only already keeps the user from changing it.
    windowClass = "EDIT";
    style &= ~static_cast<DWORD>(WS_DISABLED);
    style |= ES_MULTILINE | ES_AUTOVSCROLL | WS_VSCROLL | (rich->ReadOnly() ? ES_READONLY : 0);
    if (rich->BorderStyle != bsNone)
      exStyle |= WS_EX_CLIENTEDGE;
  } else if (dynamic_cast<TImage*>(&control)) {
    windowClass = "STATIC";
    style |= SS_OWNERDRAW | SS_NOTIFY;
  } else if (dynamic_cast<TStatusBar*>(&control)) {
    windowClass = STATUSCLASSNAMEA;
    style |= CCS_NOPARENTALIGN | CCS_NORESIZE | CCS_NODIVIDER;
  } else if (dynamic_cast<TWinControl*>(&control)) {
    // Panels, radio groups and windowed controls without a native kind of
    // their own: a container that paints itself and passes its children's
    // notifications on.
    style |= WS_CLIPCHILDREN;
    subclass = false;
  } else {
    return;  // a painting-only control without a native kind
  }

  HWND hwnd = CreateWindowExA(exStyle, windowClass, control.Caption().c_str(), style,
                              control.Left(), control.Top(), control.Width(), control.Height(),
                              parent, nullptr, instance_, nullptr);
  if (!hwnd)
    return;
  PlaceNative(control, hwnd);
  // Later siblings lie above earlier ones, as in the class library.
  SetWindowPos(hwnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  Native& native = natives_[&control];
  native.hwnd = hwnd;
  controls_[hwnd] = &control;
  control.SetNativeHandle(reinterpret_cast<TWindowHandle>(hwnd));
  if (subclass) {
    SetPropA(hwnd, kOldProcProp,
             reinterpret_cast<HANDLE>(
                 SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ChildProc))));
  }
  ApplyFont(control, native);

  if (auto* speed = dynamic_cast<TSpeedButton*>(&control)) {
    SendMessageA(hwnd, BM_SETCHECK, speed->Down() ? BST_CHECKED : BST_UNCHECKED, 0);
  } else if (auto* box = dynamic_cast<TCheckBox*>(&control)) {
    SendMessageA(hwnd, BM_SETCHECK, box->Checked() ? BST_CHECKED : BST_UNCHECKED, 0);
  } else if (auto* combo = dynamic_cast<TComboBox*>(&control)) {
    FillCombo(*combo, native);
  } else if (auto* upDown = dynamic_cast<TUpDown*>(&control)) {
    SendMessageA(hwnd, UDM_SETRANGE32, static_cast<WPARAM>(upDown->Min()), upDown->Max());
    SendMessageA(hwnd, UDM_SETPOS32, 0, upDown->Position());
  } else if (auto* pages = dynamic_cast<TPageControl*>(&control)) {
    BuildTabs(*pages, native);
  } else if (auto* edit = dynamic_cast<TEdit*>(&control)) {
    SendMessageA(hwnd, EM_LIMITTEXT, static_cast<WPARAM>(std::max(edit->MaxLength, 0)), 0);
  } else if (auto* bar = dynamic_cast<TStatusBar*>(&control)) {
    UpdateStatusBar(*bar, native);
  } else if (auto* group = dynamic_cast<TRadioGroup*>(&control)) {
    BuildRadios(*group, native);
  }
  UpdateTool(control);
  if (auto* windowed = dynamic_cast<TWinControl*>(&control))
    CreateChildren(*windowed);
}

void Win32Backend::ForgetNative(const TControl& control) {
  auto it = natives_.find(&control);
  if (it == natives_.end())
    return;
  Native& native = it->second;
  controls_.erase(native.hwnd);
  for (HWND radio : native.radios) {
    controls_.erase(radio);
    radioIndex_.erase(radio);
  }
  if (native.font)
    DeleteObject(native.font);
  natives_.erase(it);
}

void Win32Backend::ForgetTree(TWinControl& parent) {
  for (TControl* child : parent.ControlList()) {
    if (auto* windowed = dynamic_cast<TWinControl*>(child))
      ForgetTree(*windowed);
    ForgetNative(*child);
    child->SetNativeHandle(0);
  }
}

void Win32Backend::DestroyNative(TControl& control) {
  auto it = natives_.find(&control);
  if (it == natives_.end())
    return;
  HWND hwnd = it->second.hwnd;
  if (auto* windowed = dynamic_cast<TWinControl*>(&control))
    ForgetTree(*windowed);
  ForgetNative(control);
  control.SetNativeHandle(0);
  DestroyWindow(hwnd);  // and the windows of its children with it
}

void Win32Backend::ParentChanged(TControl& control) {
  if (dynamic_cast<TForm*>(&control))
    return;
  DestroyNative(control);
  CreateNative(control);
}

void Win32Backend::ControlDestroyed(TControl& control) {
  // Called from the control's destructor: only its TControl part is whole.
  auto it = natives_.find(&control);
  if (it == natives_.end())
    return;
  HWND hwnd = it->second.hwnd;
  ForgetNative(control);
  if (IsWindow(hwnd))
    DestroyWindow(hwnd);
}

void Win32Backend::ApplyFont(TControl& control, Native& native) {
  const TFont& font = control.Font();
  HFONT created = CreateFontA(
      font.Height, 0, 0, 0, (font.Style & fsBold) ? FW_BOLD : FW_NORMAL,
      (font.Style & fsItalic) ? TRUE : FALSE, (font.Style & fsUnderline) ? TRUE : FALSE,
      (font.Style & fsStrikeOut) ? TRUE : FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
      CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, font.Name.c_str());
  SendMessageA(native.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(created), TRUE);
  for (HWND radio : native.radios) {
    SendMessageA(radio, WM_SETFONT, reinterpret_cast<WPARAM>(created), TRUE);
  }
  if (native.font)
    DeleteObject(native.font);
  native.font = created;
}

void Win32Backend::ApplyEnabled(TControl& control) {
  auto it = natives_.find(&control);
  if (it != natives_.end() && !dynamic_cast<TRichEdit*>(&control))
    EnableWindow(it->second.hwnd, control.EffectiveEnabled() ? TRUE : FALSE);
  if (auto* windowed = dynamic_cast<TWinControl*>(&control)) {
    for (TControl* child : windowed->ControlList())
      ApplyEnabled(*child);
  }
}

// Where a control's window goes: its bounds, but a page fills its page
// control's display area as the native tabs measure it, and a drop-down list
// reserves room for its open list.
void Win32Backend::PlaceNative(TControl& control, HWND hwnd) {
  int left = control.Left();
  int top = control.Top();
  int width = control.Width();
  int height = control.Height();
  if (auto* page = dynamic_cast<TTabSheet*>(&control)) {
    auto tabs = page->PageControl() ? natives_.find(page->PageControl()) : natives_.end();
    if (tabs != natives_.end()) {
      RECT area;
      GetClientRect(tabs->second.hwnd, &area);
      SendMessageA(tabs->second.hwnd, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
      left = area.left;
      top = area.top;
      width = area.right - area.left;
      height = area.bottom - area.top;
    }
  } else if (dynamic_cast<TComboBox*>(&control)) {
    height += kComboListHeight;
  }
  SetWindowPos(hwnd, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32Backend::FillCombo(TComboBox& combo, Native& native) {
  SendMessageA(native.hwnd, CB_RESETCONTENT, 0, 0);
  for (const std::string& item : combo.Items())
    SendMessageA(native.hwnd, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
  SendMessageA(native.hwnd, CB_SETCURSEL, static_cast<WPARAM>(combo.ItemIndex()), 0);
}

void Win32Backend::BuildTabs(TPageControl& pages, Native& native) {
  SendMessageA(native.hwnd, TCM_DELETEALLITEMS, 0, 0);
  for (int i = 0; i < pages.PageCount(); ++i) {
    std::string caption = pages.Pages(i)->Caption();
    TCITEMA item{};
    item.mask = TCIF_TEXT;
    item.pszText = caption.data();
    SendMessageA(native.hwnd, TCM_INSERTITEMA, static_cast<WPARAM>(i),
                 reinterpret_cast<LPARAM>(&item));
  }
  SendMessageA(native.hwnd, TCM_SETCURSEL, static_cast<WPARAM>(pages.ActivePageIndex()), 0);
  // The row of tabs may have grown or shrunk: the pages follow it.
  for (int i = 0; i < pages.PageCount(); ++i) {
    auto page = natives_.find(pages.Pages(i));
    if (page != natives_.end())
      PlaceNative(*pages.Pages(i), page->second.hwnd);
  }
}

void Win32Backend::BuildRadios(TRadioGroup& group, Native& native) {
  for (HWND radio : native.radios) {
    controls_.erase(radio);
    radioIndex_.erase(radio);
    DestroyWindow(radio);
  }
  native.radios.clear();

  const int width = group.Width();
  const int height = group.Height();
  const int count = static_cast<int>(group.Items().size());
  const int columns = std::max(group.Columns, 1);
  const int rows = std::max((count + columns - 1) / columns, 1);
  const int top = 16;
  const int rowHeight = std::max((height - top - 6) / rows, 1);
  const int columnWidth = std::max((width - 16) / columns, 1);
  for (int i = 0; i < count; ++i) {
    const int row = i % rows;
    const int column = i / rows;
    HWND radio = CreateWindowExA(0, "BUTTON", group.Items()[i].c_str(),
                                 WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_RADIOBUTTON,
                                 8 + column * columnWidth, top + row * rowHeight, columnWidth - 4,
                                 std::min(rowHeight, 20), native.hwnd, nullptr, instance_, nullptr);
    if (!radio)
      continue;
    SetWindowPos(radio, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    SetPropA(radio, kOldProcProp,
             reinterpret_cast<HANDLE>(
                 SetWindowLongPtrA(radio, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ChildProc))));
    native.radios.push_back(radio);
    controls_[radio] = &group;
    radioIndex_[radio] = i;
  }
  if (native.font) {
    for (HWND window : native.radios) {
      SendMessageA(window, WM_SETFONT, reinterpret_cast<WPARAM>(native.font), TRUE);
    }
  }
  CheckRadios(group, native);
}

void Win32Backend::CheckRadios(TRadioGroup& group, Native& native) {
  for (size_t i = 0; i < native.radios.size(); ++i) {
    const bool chosen = static_cast<int>(i) == group.ItemIndex();
    SendMessageA(native.radios[i], BM_SETCHECK, chosen ? BST_CHECKED : BST_UNCHECKED, 0);
  }
}

void Win32Backend::UpdateStatusBar(TStatusBar& bar, Native& native) {
  if (bar.SimplePanel()) {
    SendMessageA(native.hwnd, SB_SIMPLE, TRUE, 0);
    SendMessageA(native.hwnd, SB_SETTEXTA, SB_SIMPLEID,
                 reinterpret_cast<LPARAM>(bar.SimpleText().c_str()));
    return;
  }
  SendMessageA(native.hwnd, SB_SIMPLE, FALSE, 0);
  const TStatusPanels& panels = bar.Panels();
  const int count = std::max(panels.Count(), 1);
  // Right edges; the last panel reaches to the end, as in the class library.
  std::vector<int> edges;
  int position = 0;
  for (int i = 0; i + 1 < panels.Count(); ++i) {
    position += panels[i].Width();
    edges.push_back(position);
  }
  edges.push_back(-1);
  SendMessageA(native.hwnd, SB_SETPARTS, static_cast<WPARAM>(count),
               reinterpret_cast<LPARAM>(edges.data()));
  for (int i = 0; i < panels.Count(); ++i) {
    SendMessageA(native.hwnd, SB_SETTEXTA, static_cast<WPARAM>(i),
                 reinterpret_cast<LPARAM>(panels[i].Text().c_str()));
  }
}

void Win32Backend::UpdateTool(TControl& control) {
  TForm* form = control.ParentForm();
  auto formIt = form ? forms_.find(form) : forms_.end();
  auto nativeIt = natives_.find(&control);
  if (formIt == forms_.end() || !formIt->second.tooltip || nativeIt == natives_.end())
    return;
  TOOLINFOA tool{};
  tool.cbSize = TTTOOLINFOA_V2_SIZE;
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = formIt->second.hwnd;
  tool.uId = reinterpret_cast<UINT_PTR>(nativeIt->second.hwnd);
  tool.lpszText = LPSTR_TEXTCALLBACKA;
  SendMessageA(formIt->second.tooltip, TTM_DELTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
  if (control.ShowHint() && !control.Hint().empty()) {
    SendMessageA(formIt->second.tooltip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
  }
}

void Win32Backend::Changed(TControl& control, TProperty property) {
  if (auto* form = dynamic_cast<TForm*>(&control)) {
    HWND hwnd = FormWindow(*form);
    if (!hwnd)
      return;
    switch (property) {
      case TProperty::Caption:
        SetWindowTextA(hwnd, form->Caption().c_str());
        break;
      case TProperty::Bounds:
        SetWindowPos(hwnd, nullptr, form->Left(), form->Top(), form->Width(), form->Height(),
                     SWP_NOZORDER | SWP_NOACTIVATE);
        break;
      case TProperty::Enabled:
        EnableWindow(hwnd, form->Enabled() ? TRUE : FALSE);
        break;
      case TProperty::Color:
        InvalidateRect(hwnd, nullptr, TRUE);
        break;
      default:
        break;
    }
    return;
  }
  auto it = natives_.find(&control);
  if (it == natives_.end())
    return;
  Native& native = it->second;
  HWND hwnd = native.hwnd;
  switch (property) {
    case TProperty::Caption:
      // A drop-down list shows its chosen item, not a text of its own.
      if (dynamic_cast<TComboBox*>(&control))
        break;
      SetWindowTextA(hwnd, control.Caption().c_str());
      InvalidateRect(hwnd, nullptr, TRUE);
      break;
    case TProperty::Bounds:
      PlaceNative(control, hwnd);
      if (auto* group = dynamic_cast<TRadioGroup*>(&control))
        BuildRadios(*group, native);
      if (auto* pages = dynamic_cast<TPageControl*>(&control))
        BuildTabs(*pages, native);
      break;
    case TProperty::Visible:
      ShowWindow(hwnd, control.Visible() ? SW_SHOWNA : SW_HIDE);
      break;
    case TProperty::Enabled:
      ApplyEnabled(control);
      break;
    case TProperty::Checked:
      if (auto* box = dynamic_cast<TCheckBox*>(&control))
        SendMessageA(hwnd, BM_SETCHECK, box->Checked() ? BST_CHECKED : BST_UNCHECKED, 0);
      break;
    case TProperty::Position:
      if (auto* upDown = dynamic_cast<TUpDown*>(&control)) {
        SendMessageA(hwnd, UDM_SETRANGE32, static_cast<WPARAM>(upDown->Min()), upDown->Max());
        SendMessageA(hwnd, UDM_SETPOS32, 0, upDown->Position());
      }
      break;
    case TProperty::Focus: {
      TForm* form = control.ParentForm();
      HWND formWindow = form ? FormWindow(*form) : nullptr;
      if (formWindow && IsWindowVisible(formWindow))
        ::SetFocus(hwnd);
      break;
    }
    case TProperty::Font:
      ApplyFont(control, native);
      InvalidateRect(hwnd, nullptr, TRUE);
      break;
    case TProperty::Color:
    case TProperty::Picture:
      InvalidateRect(hwnd, nullptr, TRUE);
      break;
    case TProperty::Hint:
      UpdateTool(control);
      break;
    case TProperty::ReadOnly:
      if (auto* edit = dynamic_cast<TEdit*>(&control)) {
        SendMessageA(hwnd, EM_SETREADONLY, edit->ReadOnly() ? TRUE : FALSE, 0);
      } else if (auto* rich = dynamic_cast<TRichEdit*>(&control)) {
        SendMessageA(hwnd, EM_SETREADONLY, rich->ReadOnly() ? TRUE : FALSE, 0);
      }
      break;
    case TProperty::Down:
      if (auto* speed = dynamic_cast<TSpeedButton*>(&control)) {
        SendMessageA(hwnd, BM_SETCHECK, speed->Down() ? BST_CHECKED : BST_UNCHECKED, 0);
      }
      break;
    case TProperty::Items:
      if (auto* group = dynamic_cast<TRadioGroup*>(&control))
        BuildRadios(*group, native);
      if (auto* combo = dynamic_cast<TComboBox*>(&control))
        FillCombo(*combo, native);
      if (auto* pages = dynamic_cast<TPageControl*>(&control))
        BuildTabs(*pages, native);
      break;
    case TProperty::ItemIndex:
      if (auto* group = dynamic_cast<TRadioGroup*>(&control))
        CheckRadios(*group, native);
      if (auto* combo = dynamic_cast<TComboBox*>(&control))
        SendMessageA(hwnd, CB_SETCURSEL, static_cast<WPARAM>(combo->ItemIndex()), 0);
      if (auto* pages = dynamic_cast<TPageControl*>(&control))
        SendMessageA(hwnd, TCM_SETCURSEL, static_cast<WPARAM>(pages->ActivePageIndex()), 0);
      break;
    case TProperty::Panels:
      if (auto* bar = dynamic_cast<TStatusBar*>(&control))
        UpdateStatusBar(*bar, native);
      break;
    default:
      break;
  }
}

}  // namespace vcl::win32::detail
