#include "tray/Tray.h"

#include <algorithm>
#include <iostream>

#include "common/IniFile.h"
#include "common/LangTable.h"
#include "platform/Files.h"
#include "platform/Process.h"
#include "platform/System.h"
#include "tray/Globfunc.h"
#include "vcl/Backend.h"

namespace tray {

TKorvaTray* KorvaTray = nullptr;

namespace {

std::ostream*& Echo() {
  static std::ostream* echo = platform::DefaultEcho();
  return echo;
}

}  // namespace

uint8_t TrayLanguageCode(std::string_view value) {
  // The whole value counts: a single letter, upper-cased.
  if (value.size() == 1) {
    if (const uint8_t code = common::LanguageCodeFromSetting(value))
      return code;
  }
  return 2;
}

uint32_t StateTextNumber(uint32_t state) {
  switch (state) {
    case 0:
      return 216;
    case 1:
      return 215;
    case 2:
      return 213;
    case 3:
      return 214;
    case 4:
      return 212;
    case 5:
      return 209;
    case 6:
      return 210;
    case 7:
      return 211;
    default:
      return 0;
  }
}

std::string CutTip(std::string_view text) {
  size_t length = std::min(text.size(), kTipLength);
#ifndef _WIN32
  // Text is UTF-8 here: a cut between a character's bytes would leave half of it.
  if (length < text.size()) {
    while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80)
      --length;
  }
#endif
  return std::string(text.substr(0, length));
}

std::ostream* SetTipEcho(std::ostream* echo) {
  std::ostream* previous = Echo();
  Echo() = echo;
  return previous;
}

// ---------------------------------------------------------------- the window

TKorvaTray::TKorvaTray(vcl::TComponent* owner) : vcl::TForm(owner, "TKorvaTray") {
  PopupMenu = new vcl::TPopupMenu(this);
  PopupMenu->SetName("PopupMenu");
  mnuShow = new vcl::TMenuItem(this);
  mnuShow->SetName("mnuShow");
  mnuShow->OnClick = [this](vcl::TObject* sender) { mnuShowClick(sender); };
  PopupMenu->Items()->Add(mnuShow);

  StatusTimer = new vcl::TTimer(this);
  StatusTimer->SetName("StatusTimer");
  StatusTimer->SetOnTimer([this](vcl::TObject* sender) { StatusTimerTimer(sender); });

  TrayIcon = new vcl::TTrayIcon(this);
  TrayIcon->SetName("TrayIcon");

  OnCreate = [this](vcl::TObject* sender) { FormCreate(sender); };
  OnDestroy = [this](vcl::TObject* sender) { FormDestroy(sender); };
}

void TKorvaTray::FormCreate(vcl::TObject*) {
  SetWidth(0);
  SetHeight(0);
  AddTrayIcon();
  ProgramDir = platform::ProgramFolder();
  IniFileName = ProgramDir + kSettingsFileName;
  LanguageCode = TrayLanguageCode(common::IniFile(IniFileName).ReadString("CHECK", "LANGUAGE", ""));
  LanguageDllName = common::LanguageLibraryPath(LanguageCode);
  LanguageDll = platform::LanguageLibrary(LanguageDllName);
  mnuShow->Caption = GetLangString(17);
}

void TKorvaTray::FormDestroy(vcl::TObject*) {
  RemoveTrayIcon();
}

void TKorvaTray::AddTrayIcon() {
  TrayIcon->ID = kTrayIconId;
  TrayIcon->CallbackMessage = WM_TRAYNOTIFY;
  ShowTip(CutTip(vcl::Application().Title()), vcl::TTrayIconImage::Window);
  TrayIcon->Add();
}

void TKorvaTray::RemoveTrayIcon() {
  TrayIcon->Remove();
}

void TKorvaTray::StatusTimerTimer(vcl::TObject*) {
  const uint32_t state = GetServiceState("", kServiceName);
  const uint32_t number = StateTextNumber(state);
  const std::string text = number != 0 ? GetLangString(number) : vcl::Application().Title();
  ShowTip(CutTip(text), state == 4 ? vcl::TTrayIconImage::Main : vcl::TTrayIconImage::Window);
  TrayIcon->Modify();
}

void TKorvaTray::ShowTip(const std::string& tip, vcl::TTrayIconImage image) {
  TrayIcon->Tip = tip;
  TrayIcon->Image = image;
  if (tip == echoed_)
    return;
  echoed_ = tip;
  if (std::ostream* echo = Echo())
    *echo << tip << '\n' << std::flush;
}

void TKorvaTray::mnuShowClick(vcl::TObject*) {
  if (IsProcessRunning(kMonitorProgram))
    return;
  // The full path as the program to start, and quoted as the command line:
  // unquoted, a blank in the folder's name would make the system try the
  // words before it as a program first ("C:\Program.exe").
  const std::string program = ProgramDir + kMonitorProgram;
  platform::processes().CreateProcess(program, "\"" + program + "\"");
}

void TKorvaTray::WndProc(vcl::TMessage& message) {
  if (message.Msg == WM_TRAYNOTIFY) {
    WMTrayNotify(message);
    return;
  }
  vcl::TForm::WndProc(message);
}

void TKorvaTray::WMTrayNotify(vcl::TMessage& message) {
  switch (message.LParam) {
    case vcl::WM_LBUTTONUP:
      vcl::PostMessage(Handle(), vcl::WM_LBUTTONDOWN, 0, 0);
      vcl::PostMessage(Handle(), vcl::WM_LBUTTONUP, 0, 0);
      break;
    case vcl::WM_LBUTTONDBLCLK:
      mnuShowClick(this);
      break;
    case vcl::WM_RBUTTONUP: {
      // The menu's window comes to the foreground as it pops up, so that a
      // click elsewhere closes it.
      const vcl::TPoint cursor = vcl::backend().CursorPos();
      PopupMenu->Popup(cursor.X, cursor.Y);
      break;
    }
    default:
      break;
  }
}

std::string TKorvaTray::GetLangString(uint32_t id) const {
  return common::LoadLangString(LanguageDll.handle(), id);
}

// ---------------------------------------------------------------- the program

void PrepareApplication() {
  vcl::TApplication& application = vcl::Application();
  application.MainFormOnTaskbar = false;
  application.ShowMainForm = false;
  application.SetTitle(kApplicationTitle);
}

void CreateProgramWindows() {
  PrepareApplication();
  vcl::Application().CreateForm(KorvaTray);
}

void RunProgram() {
  vcl::Application().Run();
}

void EndProgram() {
  vcl::Application().Done();
  KorvaTray = nullptr;
}

void CloseOnRequest() {
  if (KorvaTray) {
    KorvaTray->Close();
  } else {
    vcl::Application().Terminate();
  }
}

}  // namespace tray
