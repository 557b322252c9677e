// Popup menus, the tray icon's among them. The native menu is built from
// the visible items only for the moment it shows, so it never holds items
// that have since changed; the item chosen is clicked only if it still
// belongs to the menu, since it may have gone while the menu was open.
#include <algorithm>
#include <functional>
#include <vector>

#include "platform/win32/vcl/Win32BackendImpl.h"

namespace vcl::win32::detail {

void Win32Backend::Popup(TPopupMenu& menu, int x, int y) {
  std::vector<TMenuItem*> commands;
  std::function<HMENU(TMenuItem&)> build = [&](TMenuItem& parent) {
    HMENU hmenu = CreatePopupMenu();
    for (int i = 0; i < parent.Count(); ++i) {
      TMenuItem* item = parent.Items(i);
      if (!item->Visible)
        continue;
      if (item->IsLine()) {
        AppendMenuA(hmenu, MF_SEPARATOR, 0, nullptr);
        continue;
      }
      UINT flags = MF_STRING;
      if (!item->Enabled)
        flags |= MF_GRAYED;
      if (item->Checked)
        flags |= MF_CHECKED;
      if (item->Count() > 0) {
        AppendMenuA(hmenu, flags | MF_POPUP, reinterpret_cast<UINT_PTR>(build(*item)),
                    item->Caption.c_str());
        continue;
      }
      commands.push_back(item);
      const UINT id = static_cast<UINT>(commands.size());
      AppendMenuA(hmenu, flags, id, item->Caption.c_str());
      if (item->Default)
        SetMenuDefaultItem(hmenu, id, FALSE);
    }
    return hmenu;
  };
  HMENU hmenu = build(*menu.Items());
  HWND owner = application_;
  if (auto* form = dynamic_cast<TForm*>(menu.Owner()))
    owner = reinterpret_cast<HWND>(form->Handle());
  // A menu of a hidden window closes when the user clicks elsewhere only
  // when that window is in the foreground.
  SetForegroundWindow(owner);
  const UINT chosen = static_cast<UINT>(TrackPopupMenu(
      hmenu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_LEFTALIGN, x, y, 0, owner, nullptr));
  PostMessageA(owner, WM_NULL, 0, 0);
  DestroyMenu(hmenu);
  if (chosen == 0 || chosen > commands.size())
    return;
  // The item may have gone while the menu was open: click it only when it is
  // still one of the menu's.
  TMenuItem* item = commands[chosen - 1];
  std::vector<TMenuItem*> now;
  std::function<void(TMenuItem&)> collect = [&](TMenuItem& parent) {
    for (int i = 0; i < parent.Count(); ++i) {
      now.push_back(parent.Items(i));
      collect(*parent.Items(i));
    }
  };
  collect(*menu.Items());
  if (std::find(now.begin(), now.end(), item) != now.end())
    item->Click();
}

}  // namespace vcl::win32::detail
