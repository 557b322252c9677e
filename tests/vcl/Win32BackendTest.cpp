// The Win32 backend makes real windows: a form's window has its class's name,
// messages posted to it with PostMessageA reach its WndProc, and the native
// controls reach the class library's events. Runs on the Windows build only
// (under Wine with a virtual display), on the native event loop.
#ifdef _WIN32

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "platform/EventLoop.h"
#include "platform/MessageBoxes.h"
#include "platform/Services.h"
#include "platform/win32/vcl/Win32Backend.h"
#include "vcl/Buttons.h"
#include "vcl/CheckBox.h"
#include "vcl/ComCtrls.h"
#include "vcl/ComboBox.h"
#include "vcl/Dialogs.h"
#include "vcl/ExtCtrls.h"
#include "vcl/Forms.h"
#include "vcl/GroupBox.h"
#include "vcl/MaskEdit.h"
#include "vcl/Memo.h"
#include "vcl/PageControl.h"
#include "vcl/StdCtrls.h"
#include "vcl/TrayIcon.h"
#include "vcl/UpDown.h"

// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>
#include "platform/win32/SystemCalls.h"
// clang-format on

namespace {

// A control made for `form` and placed on `parent`.
template <class T>
T* Place(vcl::TForm* form, vcl::TWinControl* parent, int left, int top, int width, int height) {
  auto* control = new T(form);
  control->SetParent(parent);
  control->SetBounds(left, top, width, height);
  return control;
}

class TfrmKorvamon : public vcl::TForm {
 public:
  explicit TfrmKorvamon(vcl::TComponent* owner) : TForm(owner, "TfrmKorvamon") {
    SetCaption("korvamon");
    BorderStyle = vcl::bsDialog;
    BorderIcons = 0;
    SetClientWidth(546);
    SetClientHeight(293);
    btnHide = Place<vcl::TButton>(this, this, 10, 10, 75, 25);
    btnHide->SetCaption("Close");
    btnHide->OnClick = [this](vcl::TObject*) { ++hideClicks; };
    pnlMask = Place<vcl::TPanel>(this, this, 0, 50, 522, 98);
    lblSeriell = Place<vcl::TLabel>(this, pnlMask, 5, 5, 200, 13);
    edRead = Place<vcl::TEdit>(this, this, 10, 160, 300, 21);
    StatBar = new vcl::TStatusBar(this);
    StatBar->SetParent(this);
    StatBar->Panels().Add().SetWidth(360);
    StatBar->Panels()[0].SetText("COM1");
  }

  void WndProc(vcl::TMessage& message) override {
    if (message.Msg == 0x8400) {
      trayLParam = message.LParam;
      trayThread = std::this_thread::get_id();
      ++trayMessages;
      message.Result = static_cast<intptr_t>(message.WParam);
      return;
    }
    if (message.Msg == 0x0312) {  // WM_HOTKEY
      hotKeyId = static_cast<int>(message.WParam);
      return;
    }
    TForm::WndProc(message);
  }

  vcl::TButton* btnHide;
  vcl::TPanel* pnlMask;
  vcl::TLabel* lblSeriell;
  vcl::TEdit* edRead;
  vcl::TStatusBar* StatBar;
  int hideClicks = 0;
  int trayMessages = 0;
  intptr_t trayLParam = 0;
  int hotKeyId = 0;
  std::thread::id trayThread;
};

HWND Hwnd(const vcl::TControl* control) {
  return reinterpret_cast<HWND>(control->NativeHandle());
}
HWND Window(vcl::TForm* form) {
  return reinterpret_cast<HWND>(form->Handle());
}

std::string ClassOf(HWND hwnd) {
  char name[256] = {};
  GetClassNameA(hwnd, name, sizeof name);
  return name;
}

std::string TextOf(HWND hwnd) {
  char text[256] = {};
  GetWindowTextA(hwnd, text, sizeof text);
  return text;
}

// The width of an icon's image in pixels (0: no icon).
int IconWidth(HICON icon) {
  ICONINFO info{};
  if (!icon || !GetIconInfo(icon, &info))
    return 0;
  BITMAP bitmap{};
  GetObjectA(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
  if (info.hbmColor)
    DeleteObject(info.hbmColor);
  if (info.hbmMask)
    DeleteObject(info.hbmMask);
  return bitmap.bmWidth;
}

class Win32BackendTest : public testing::Test {
 protected:
  Win32BackendTest() {
    previousLoop_ = platform::ReplaceMainLoop(
        std::make_unique<platform::EventLoop>(platform::NewNativeWaiter()));
    backend_ = vcl::win32::NewBackend();
    previousBackend_ = vcl::SetBackend(backend_.get());
    application_.emplace();
    vcl::Application().SetTitle("DI-ZOD");
  }
  ~Win32BackendTest() override {
    application_.reset();  // frees the forms while their backend is there
    vcl::SetBackend(previousBackend_ == &vcl::Headless() ? nullptr : previousBackend_);
    backend_.reset();
    platform::ReplaceMainLoop(std::move(previousLoop_));
  }

  // Handles messages for real until `done` holds, five seconds at most.
  static bool RunUntil(const std::function<bool()>& done) {
    for (int i = 0; i < 500 && !done(); ++i)
      platform::MainLoop().RunFor(10);
    return done();
  }

  platform::ScriptedMessageBoxes boxes_;
  platform::ScopedService<platform::MessageBoxes> boxesGuard_{boxes_};

 private:
  std::unique_ptr<platform::EventLoop> previousLoop_;
  std::unique_ptr<vcl::Backend> backend_;
  vcl::Backend* previousBackend_ = nullptr;
  std::optional<vcl::ScopedApplication> application_;
};

TEST_F(Win32BackendTest, AFormIsARealWindowOfItsClassName) {
  auto* form = vcl::Application().CreateForm<TfrmKorvamon>();
  form->Show();
  HWND hwnd = Window(form);
  ASSERT_TRUE(IsWindow(hwnd));
  EXPECT_EQ(ClassOf(hwnd), "TfrmKorvamon");
  EXPECT_EQ(TextOf(hwnd), "korvamon");
  EXPECT_TRUE(IsWindowVisible(hwnd));
  EXPECT_EQ(FindWindowA("TfrmKorvamon", nullptr), hwnd);
  RECT client;
  GetClientRect(hwnd, &client);
  EXPECT_EQ(client.right, 546);
  EXPECT_EQ(client.bottom, 293);

  HWND application = reinterpret_cast<HWND>(vcl::Application().Handle());
  EXPECT_EQ(FindWindowA("TApplication", "DI-ZOD"), application);
  vcl::Application().SetTitle("DUMMY");
  EXPECT_EQ(FindWindowA("TApplication", "DI-ZOD"), nullptr);

  // The program's icon (resource 1), the small one at its own size.
  const int large = GetSystemMetrics(SM_CXICON);
  EXPECT_EQ(reinterpret_cast<HANDLE>(GetClassLongPtrA(hwnd, GCLP_HICON)),
            LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(1), IMAGE_ICON, large, large,
                       LR_SHARED));
  EXPECT_EQ(IconWidth(reinterpret_cast<HICON>(GetClassLongPtrA(hwnd, GCLP_HICONSM))),
            GetSystemMetrics(SM_CXSMICON));

  EXPECT_EQ(ClassOf(Hwnd(form->btnHide)), "Button");
  EXPECT_EQ(ClassOf(Hwnd(form->edRead)), "Edit");
  HWND bar = Hwnd(form->StatBar);
  EXPECT_EQ(ClassOf(bar), "msctls_statusbar32");
  char panel[64] = {};
  SendMessageA(bar, SB_GETTEXTA, 0, reinterpret_cast<LPARAM>(panel));
  EXPECT_STREQ(panel, "COM1");
  form->StatBar->Panels()[0].SetText("COM1 closed");
  SendMessageA(bar, SB_GETTEXTA, 0, reinterpret_cast<LPARAM>(panel));
  EXPECT_STREQ(panel, "COM1 closed");

  form->Hide();
  EXPECT_FALSE(IsWindowVisible(hwnd));
  vcl::Free(form);
  EXPECT_FALSE(IsWindow(hwnd));
}

TEST_F(Win32BackendTest, MessagesPostedToTheWindowReachWndProc) {
  auto* form = vcl::Application().CreateForm<TfrmKorvamon>();
  HWND hwnd = Window(form);
  std::thread other([hwnd] { PostMessageA(hwnd, 0x8400, 0x100, 0x203); });
  other.join();
  ASSERT_TRUE(RunUntil([&] { return form->trayMessages == 1; }));
  EXPECT_EQ(form->trayLParam, 0x203);
  EXPECT_EQ(form->trayThread, std::this_thread::get_id());

  PostMessageA(hwnd, WM_HOTKEY, 0xB000, 0);
  ASSERT_TRUE(RunUntil([&] { return form->hotKeyId == 0xB000; }));

  EXPECT_EQ(SendMessageA(hwnd, 0x8400, 0x1234, 0x203), 0x1234);
  EXPECT_EQ(form->trayMessages, 2);

  // Closing the application's window closes the main form, and destroys no window.
  int closes = 0;
  form->OnClose = [&](vcl::TObject*, vcl::TCloseAction&) { ++closes; };
  HWND application = reinterpret_cast<HWND>(vcl::Application().Handle());
  SendMessageA(application, WM_CLOSE, 0, 0);
  EXPECT_EQ(closes, 1);
  EXPECT_TRUE(vcl::Application().Terminated());
  EXPECT_TRUE(IsWindow(application) && IsWindow(hwnd));
}

// The shell is asked directly whether it has the icon: a change to an icon
// it does not have is refused.
bool ShellHasIcon(HWND hwnd, UINT id) {
  NOTIFYICONDATAA data{};
  data.cbSize = sizeof data;
  data.hWnd = hwnd;
  data.uID = id;
  return Shell_NotifyIconA(NIM_MODIFY, &data);
}
void ShellLosesIcon(HWND hwnd, UINT id) {
  NOTIFYICONDATAA data{};
  data.cbSize = sizeof data;
  data.hWnd = hwnd;
  data.uID = id;
  Shell_NotifyIconA(NIM_DELETE, &data);
}

TEST_F(Win32BackendTest, ATrayIconTheShellLostComesBack) {
  auto* form = vcl::Application().CreateForm<TfrmKorvamon>();
  auto* icon = new vcl::TTrayIcon(form);
  icon->CallbackMessage = 0x8400;
  icon->Tip = "Korva Tray";
  HWND hwnd = Window(form);
  ASSERT_TRUE(icon->Add());
  ASSERT_TRUE(ShellHasIcon(hwnd, 1));

  // The shell's word that its task bar is new, as it tells every top-level window.
  ShellLosesIcon(hwnd, 1);
  SendMessageA(hwnd, RegisterWindowMessageA("TaskbarCreated"), 0, 0);
  EXPECT_TRUE(ShellHasIcon(hwnd, 1));

  ShellLosesIcon(hwnd, 1);
  icon->Image = vcl::TTrayIconImage::Main;
  EXPECT_TRUE(icon->Modify());
  EXPECT_TRUE(ShellHasIcon(hwnd, 1));

  vcl::Free(icon);
  EXPECT_FALSE(ShellHasIcon(hwnd, 1));
}

// Windows' cache of shared images, which Wine does not keep: every shared
// load of a resource gets the image first loaded of it, whatever size it asks.
std::map<std::pair<HINSTANCE, LPCSTR>, HANDLE> sharedImages;
HANDLE WINAPI LoadImageAsWindows(HINSTANCE from, LPCSTR name, UINT type, int width, int height,
                                 UINT flags) {
  if (!(flags & LR_SHARED))
    return LoadImageA(from, name, type, width, height, flags);
  auto [image, first] = sharedImages.try_emplace({from, name}, nullptr);
  if (first)
    image->second = LoadImageA(from, name, type, width, height, flags);
  return image->second;
}
// The icon the shell was last given.
HICON notifiedIcon = nullptr;
BOOL WINAPI NotifyAndKeepIcon(DWORD what, PNOTIFYICONDATAA data) {
  notifiedIcon = data->hIcon;
  return Shell_NotifyIconA(what, data);
}

TEST_F(Win32BackendTest, TheTitleBarAndTheTrayGetTheSmallIconNotTheLargeOneShrunk) {
  platform::win32::ScopedSystemCalls restored;
  platform::win32::systemCalls().loadImage = LoadImageAsWindows;
  platform::win32::systemCalls().shellNotifyIcon = NotifyAndKeepIcon;
  sharedImages.clear();
  // The class takes the large icon first, then the small one.
  auto* form = vcl::Application().CreateForm<TfrmKorvamon>();
  const int small = GetSystemMetrics(SM_CXSMICON);
  ASSERT_NE(small, GetSystemMetrics(SM_CXICON));
  HWND hwnd = Window(form);
  EXPECT_EQ(IconWidth(reinterpret_cast<HICON>(GetClassLongPtrA(hwnd, GCLP_HICON))),
            GetSystemMetrics(SM_CXICON));
  EXPECT_EQ(IconWidth(reinterpret_cast<HICON>(GetClassLongPtrA(hwnd, GCLP_HICONSM))), small);
  auto* icon = new vcl::TTrayIcon(form);
  icon->CallbackMessage = 0x8400;
  for (const vcl::TTrayIconImage image : {vcl::TTrayIconImage::Main, vcl::TTrayIconImage::Window}) {
    icon->Image = image;
    ASSERT_TRUE(icon->Add());
    EXPECT_EQ(IconWidth(notifiedIcon), small);
  }
  vcl::Free(icon);
}

// The messages let through to windows from lower integrity levels.
std::vector<std::pair<HWND, UINT>> allowedMessages;
BOOL WINAPI AllowMessage(HWND hwnd, UINT message, DWORD action, PCHANGEFILTERSTRUCT) {
  if (action == MSGFLT_ALLOW)
    allowedMessages.emplace_back(hwnd, message);
  return TRUE;
}

TEST_F(Win32BackendTest, ElevatedTheTrayIconsWindowsHearTheShellAndALaterInstance) {
  platform::win32::ScopedSystemCalls restored;
  platform::win32::systemCalls().changeWindowMessageFilterEx = AllowMessage;
  allowedMessages.clear();
  auto* form = vcl::Application().CreateForm<TfrmKorvamon>();
  auto* icon = new vcl::TTrayIcon(form);
  icon->CallbackMessage = 0x8400;
  ASSERT_TRUE(icon->Add());
  const UINT taskbarCreated = RegisterWindowMessageA("TaskbarCreated");
  HWND main = Window(form);
  HWND application = reinterpret_cast<HWND>(vcl::Application().Handle());
  for (HWND hwnd : {main, application}) {
    for (UINT message : {taskbarCreated, 0x8400u}) {
      EXPECT_NE(std::find(allowedMessages.begin(), allowedMessages.end(),
                          std::pair<HWND, UINT>{hwnd, message}),
                allowedMessages.end())
          << (hwnd == main ? "main window, " : "application window, ") << message;
    }
  }
}

TEST_F(Win32BackendTest, NativeControlsReachTheEventsAndFollowTheFields) {
  auto* form = vcl::Application().CreateForm<TfrmKorvamon>();
  auto* memo = Place<vcl::TMemo>(form, form, 320, 160, 200, 60);
  int doubleClicks = 0;
  memo->OnDblClick = [&doubleClicks](vcl::TObject*) { ++doubleClicks; };
  form->Show();
  HWND button = Hwnd(form->btnHide);
  SendMessageA(button, BM_CLICK, 0, 0);
  EXPECT_EQ(form->hideClicks, 1);
  SendMessageA(Hwnd(memo), WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(5, 5));
  EXPECT_EQ(doubleClicks, 1);

  HWND edit = Hwnd(form->edRead);
  SetWindowTextA(edit, "*****..ALARM..DC_OK..");
  EXPECT_EQ(form->edRead->Text(), "*****..ALARM..DC_OK..");
  form->edRead->SetText("typed by code");
  EXPECT_EQ(TextOf(edit), "typed by code");

  HWND label = Hwnd(form->lblSeriell);
  EXPECT_EQ(GetParent(label), Hwnd(form->pnlMask));
  form->lblSeriell->SetCaption("COM1 open");
  EXPECT_EQ(TextOf(label), "COM1 open");

  HWND mask = Hwnd(form->pnlMask);
  form->pnlMask->SetLeft(-800);
  RECT rect;
  GetWindowRect(mask, &rect);
  MapWindowPoints(HWND_DESKTOP, Window(form), reinterpret_cast<POINT*>(&rect), 2);
  EXPECT_EQ(rect.left, -800);
}

TEST_F(Win32BackendTest, ShowModalWaitsForTheResultDisablesTheOtherWindowsAndEndsOnAQuit) {
  auto* main = vcl::Application().CreateForm<TfrmKorvamon>();
  main->Show();
  auto* dialog = vcl::CreateForm<vcl::TForm>(nullptr, "TfrmLanguage");
  auto* ok = new vcl::TButton(dialog);
  ok->SetParent(dialog);
  ok->ModalResult = vcl::mrOk;
  ok->Default = true;
  bool mainDisabledMeanwhile = false;
  auto* press = new vcl::TTimer(dialog);
  press->SetInterval(50);
  press->SetOnTimer([&](vcl::TObject*) {
    press->SetEnabled(false);
    mainDisabledMeanwhile = !IsWindowEnabled(Window(main));
    PostMessageA(Hwnd(ok), BM_CLICK, 0, 0);
  });
  EXPECT_EQ(dialog->ShowModal(), vcl::mrOk);
  EXPECT_TRUE(mainDisabledMeanwhile);
  EXPECT_TRUE(IsWindowEnabled(Window(main)));
  EXPECT_FALSE(IsWindowVisible(Window(dialog)));
  EXPECT_FALSE(vcl::Application().Terminated());

  // A quit message another program posts ends the modal form and the program.
  HWND target = Window(main);
  press->SetOnTimer([&](vcl::TObject*) {
    press->SetEnabled(false);
    std::thread([target] { PostMessageA(target, WM_QUIT, 0, 0); }).join();
  });
  press->SetEnabled(true);
  EXPECT_EQ(dialog->ShowModal(), vcl::mrCancel);  // spun for ever before
  EXPECT_TRUE(vcl::Application().Terminated());
  EXPECT_TRUE(IsWindowEnabled(Window(main)));
  vcl::Free(dialog);
}

TEST_F(Win32BackendTest, DialogControlsAreNativeAndReportTheUsersInput) {
  auto* form = vcl::CreateForm<vcl::TForm>(nullptr, "TfrmConfig");
  form->SetBounds(0, 0, 500, 400);
  auto* pages = Place<vcl::TPageControl>(form, form, 8, 8, 470, 300);
  auto* first = new vcl::TTabSheet(form);
  first->SetPageControl(pages);
  first->SetCaption("General");
  auto* second = new vcl::TTabSheet(form);
  second->SetPageControl(pages);
  second->SetCaption("Battery operation");
  auto* group = Place<vcl::TGroupBox>(form, first, 8, 8, 400, 200);
  auto* box = Place<vcl::TCheckBox>(form, group, 10, 20, 200, 17);
  auto* list = Place<vcl::TComboBox>(form, group, 10, 50, 100, 21);
  for (const char* item : {"USB", "COM1", "COM2"})
    list->AddItem(item);
  auto* seconds = Place<vcl::TMaskEdit>(form, group, 10, 90, 40, 21);
  seconds->SetEditMask("!999;1; ");
  seconds->SetReadOnly(true);
  auto* upDown = Place<vcl::TUpDown>(form, group, 50, 90, 16, 21);
  upDown->SetRange(0, 59);
  upDown->Wrap = true;
  upDown->SetAssociate(seconds);
  int listChanges = 0;
  list->OnChange = [&](vcl::TObject*) { ++listChanges; };
  int tabChanges = 0;
  pages->OnChange = [&](vcl::TObject*) { ++tabChanges; };
  form->Show();

  HWND tabs = Hwnd(pages);
  HWND boxWindow = Hwnd(box);
  HWND listWindow = Hwnd(list);
  HWND arrows = Hwnd(upDown);
  HWND field = Hwnd(seconds);
  EXPECT_EQ(ClassOf(tabs), "SysTabControl32");
  EXPECT_EQ(SendMessageA(tabs, TCM_GETITEMCOUNT, 0, 0), 2);
  EXPECT_EQ(ClassOf(boxWindow), "Button");
  EXPECT_EQ(ClassOf(listWindow), "ComboBox");
  EXPECT_EQ(ClassOf(arrows), "msctls_updown32");
  EXPECT_EQ(TextOf(field), "  0");

  // The page lies within the tabs' frame, below the row of tabs.
  RECT page;
  GetWindowRect(Hwnd(first), &page);
  MapWindowPoints(HWND_DESKTOP, tabs, reinterpret_cast<POINT*>(&page), 2);
  EXPECT_GT(page.top, 10);
  EXPECT_LT(page.right, 470);

  SendMessageA(boxWindow, BM_CLICK, 0, 0);
  EXPECT_TRUE(box->Checked());
  EXPECT_EQ(SendMessageA(boxWindow, BM_GETCHECK, 0, 0), BST_CHECKED);
  box->SetChecked(false);
  EXPECT_EQ(SendMessageA(boxWindow, BM_GETCHECK, 0, 0), BST_UNCHECKED);

  list->SetItemIndex(1);
  EXPECT_EQ(SendMessageA(listWindow, CB_GETCURSEL, 0, 0), 1);
  SendMessageA(listWindow, CB_SETCURSEL, 2, 0);
  SendMessageA(GetParent(listWindow), WM_COMMAND, MAKEWPARAM(0, CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(listWindow));
  EXPECT_EQ(list->ItemIndex(), 2);
  EXPECT_EQ(list->Text(), "COM2");
  EXPECT_EQ(listChanges, 1);

  NMUPDOWN down{};
  down.hdr.hwndFrom = arrows;
  down.hdr.code = UDN_DELTAPOS;
  down.iDelta = -1;
  EXPECT_EQ(SendMessageA(GetParent(arrows), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&down)), 1);
  EXPECT_EQ(upDown->Position(), 59);
  EXPECT_EQ(TextOf(field), " 59");
  EXPECT_EQ(SendMessageA(arrows, UDM_GETPOS32, 0, 0), 59);

  group->SetEnabled(false);
  EXPECT_FALSE(IsWindowEnabled(boxWindow));
  EXPECT_FALSE(IsWindowEnabled(listWindow));
  group->SetEnabled(true);
  EXPECT_TRUE(IsWindowEnabled(boxWindow));

  SendMessageA(tabs, TCM_SETCURSEL, 1, 0);
  NMHDR selected{tabs, 0, static_cast<UINT>(TCN_SELCHANGE)};
  SendMessageA(GetParent(tabs), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&selected));
  EXPECT_EQ(pages->ActivePage(), second);
  EXPECT_EQ(tabChanges, 1);
  EXPECT_TRUE(IsWindowVisible(Hwnd(second)));
  EXPECT_FALSE(IsWindowVisible(Hwnd(first)));
  pages->SetActivePage(first);
  EXPECT_EQ(SendMessageA(tabs, TCM_GETCURSEL, 0, 0), 0);

  // A press whose handler moves the focus away is no click.
  auto* other = Place<vcl::TButton>(form, group, 200, 150, 75, 25);
  box->OnMouseDown = [&](vcl::TObject*, vcl::TMouseButton, vcl::TShiftState, int x, int) {
    if (x >= 18)
      other->SetFocus();
  };
  SetForegroundWindow(Window(form));
  auto press = [&](int x) {
    SendMessageA(boxWindow, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, 5));
    SendMessageA(boxWindow, WM_LBUTTONUP, 0, MAKELPARAM(x, 5));
  };
  press(30);
  EXPECT_FALSE(box->Checked());
  EXPECT_TRUE(other->Focused());
  press(5);
  EXPECT_TRUE(box->Checked());
  EXPECT_EQ(SendMessageA(boxWindow, BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(GetFocus(), boxWindow);
  EXPECT_TRUE(box->Focused());
  vcl::Free(form);
}

// The apartment of the calling thread, as COM reports it (none: -1).
int ThisApartment() {
  APTTYPE apartment{};
  APTTYPEQUALIFIER qualifier{};
  return SUCCEEDED(CoGetApartmentType(&apartment, &qualifier)) ? apartment : -1;
}

// What a file dialog saw while it was open.
struct DialogSeen {
  std::thread::id thread;
  int apartment = -1;
  bool ownerTookInput = true;
  bool mainThreadWentOn = false;
};
DialogSeen dialogSeen;
std::atomic<bool> mainThreadTicked{false};

// The user picks a file once the main thread has handled a timer meanwhile
// (five seconds at most).
BOOL WINAPI PickAFile(OPENFILENAMEA* request) {
  dialogSeen.thread = std::this_thread::get_id();
  dialogSeen.apartment = ThisApartment();
  dialogSeen.ownerTookInput = IsWindowEnabled(request->hwndOwner) != FALSE;
  for (int i = 0; i < 500 && !mainThreadTicked; ++i)
    Sleep(10);
  dialogSeen.mainThreadWentOn = mainThreadTicked;
  lstrcpynA(request->lpstrFile, "C:\\Korva\\alarm.exe", static_cast<int>(request->nMaxFile));
  return TRUE;
}

// A form of the settings' kind, active, with a timer that says when it ticks.
vcl::TForm* ActiveSettingsForm() {
  auto* form = vcl::CreateForm<vcl::TForm>(nullptr, "TfrmConfig");
  form->SetBounds(100, 100, 300, 200);
  form->Show();
  SetForegroundWindow(Window(form));
  SetActiveWindow(Window(form));
  mainThreadTicked = false;
  auto* timer = new vcl::TTimer(form);
  timer->SetInterval(20);
  timer->SetOnTimer([](vcl::TObject*) { mainThreadTicked = true; });
  timer->SetEnabled(true);
  return form;
}

TEST_F(Win32BackendTest, TheFileDialogRunsInASingleThreadedApartmentWhileTheMainThreadGoesOn) {
  // The OPC server puts the main thread into the multithreaded apartment.
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
  platform::win32::ScopedSystemCalls restored;
  platform::win32::systemCalls().getOpenFileName = PickAFile;
  dialogSeen = {};
  vcl::TForm* form = ActiveSettingsForm();
  auto* open = new vcl::TOpenDialog(form);
  open->FileName = "Korva_USV.log";
  EXPECT_TRUE(open->Execute());
  EXPECT_EQ(open->FileName, "C:\\Korva\\alarm.exe");
  EXPECT_NE(dialogSeen.thread, std::this_thread::get_id());
  EXPECT_TRUE(dialogSeen.apartment == APTTYPE_STA || dialogSeen.apartment == APTTYPE_MAINSTA)
      << dialogSeen.apartment;
  EXPECT_FALSE(dialogSeen.ownerTookInput);
  EXPECT_TRUE(dialogSeen.mainThreadWentOn);
  EXPECT_TRUE(IsWindowEnabled(Window(form)));
  vcl::Free(form);
  CoUninitialize();
}

// The system's file dialog open now for `owner`, on a thread of this process.
HWND OpenFileDialogOf(HWND owner) {
  struct Search {
    HWND owner;
    HWND found;
  } search{owner, nullptr};
  EnumWindows(
      [](HWND hwnd, LPARAM data) -> BOOL {
        auto* s = reinterpret_cast<Search*>(data);
        DWORD process = 0;
        GetWindowThreadProcessId(hwnd, &process);
        if (process == GetCurrentProcessId() && IsWindowVisible(hwnd) &&
            GetWindow(hwnd, GW_OWNER) == s->owner) {
          s->found = hwnd;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

TEST_F(Win32BackendTest, TheSystemsFileDialogCanBeCancelledAndIsCancelledWhenTheProgramEnds) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
  vcl::TForm* form = ActiveSettingsForm();
  HWND owner = Window(form);
  auto* open = new vcl::TOpenDialog(form);
  open->FileName = "Korva_USV.log";
  HWND dialogWindow = nullptr;
  bool ownerDisabled = false;
  auto* look = new vcl::TTimer(form);
  look->SetInterval(50);
  // Each round: the user cancels the dialog, then the program ends under it.
  std::function<void(HWND)> act;
  look->SetOnTimer([&](vcl::TObject*) {
    HWND found = OpenFileDialogOf(owner);
    if (!found || dialogWindow)
      return;
    dialogWindow = found;
    ownerDisabled = !IsWindowEnabled(owner);
    act(found);
  });
  look->SetEnabled(true);

  act = [](HWND found) { PostMessageA(found, WM_COMMAND, IDCANCEL, 0); };
  EXPECT_FALSE(open->Execute());
  ASSERT_NE(dialogWindow, nullptr);
  EXPECT_NE(GetWindowThreadProcessId(dialogWindow, nullptr), GetCurrentThreadId());
  EXPECT_TRUE(ownerDisabled);
  EXPECT_EQ(open->FileName, "Korva_USV.log");
  EXPECT_TRUE(IsWindowEnabled(owner));

  dialogWindow = nullptr;
  act = [](HWND) { vcl::Application().Terminate(); };
  EXPECT_FALSE(open->Execute());
  ASSERT_NE(dialogWindow, nullptr);
  // Its thread closes it: it goes without the main thread's help.
  for (int i = 0; i < 500 && IsWindow(dialogWindow); ++i)
    Sleep(10);
  EXPECT_FALSE(IsWindow(dialogWindow));
  vcl::Free(form);
  CoUninitialize();
}

TEST(ForegroundTest, TheInputIsSharedOnlyWithAnotherThreadThatAnswers) {
  struct Case {
    uint32_t foreground;
    bool hung;
    bool shared;
  };
  for (const Case& c :
       {Case{0, false, false}, {7, false, false}, {9, false, true}, {9, true, false}})
    EXPECT_EQ(vcl::win32::ShareForegroundInput(7, c.foreground, c.hung), c.shared) << c.foreground;
}

}  // namespace

#endif  // _WIN32
