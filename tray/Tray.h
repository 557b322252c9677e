// Unit Tray: korvatray's window, which is never shown. It lives as an icon
// in the notification area whose tip tells, in the user's language, the state
// of the service "Service_Korva", asked once a second, and whose main icon
// shows while the service runs. A double click on the icon, or its menu,
// starts korvamon from korvatray's own folder unless it runs already.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>

#include "platform/LanguageSource.h"
#include "vcl/ExtCtrls.h"
#include "vcl/Forms.h"
#include "vcl/Menus.h"
#include "vcl/TrayIcon.h"

namespace tray {

// The icon's mouse messages; LParam is the mouse message.
inline constexpr uint32_t WM_TRAYNOTIFY = 0x8400;
inline constexpr uint32_t kTrayIconId = 1;
inline constexpr const char* kApplicationTitle = "Korva Tray";
inline constexpr const char* kSettingsFileName = "USV_Korva_D.INI";
inline constexpr const char* kServiceName = "Service_Korva";
inline constexpr const char* kMonitorProgram = "korvamon.exe";
// The longest tip the shell keeps, in bytes.
inline constexpr size_t kTipLength = 127;

// The language of [CHECK] LANGUAGE: the whole value upper-cased, "G" 1
// (German), "E" 2, "F" 3 (French), "I" 4 (Italian); anything else, and an
// empty value, is English.
uint8_t TrayLanguageCode(std::string_view value);
// The tip of a service state: the number of its language text, or 0 for a
// state that has none (the tip is then the application's title).
uint32_t StateTextNumber(uint32_t state);
// `text` cut to the tip's length; on POSIX (UTF-8) never inside a character.
std::string CutTip(std::string_view text);

// Where each new tip is written, one line each (standard output on POSIX,
// nowhere on Windows); returns the previous target. Null: nowhere.
std::ostream* SetTipEcho(std::ostream* echo);

class TKorvaTray : public vcl::TForm {
 public:
  explicit TKorvaTray(vcl::TComponent* owner);

  vcl::TPopupMenu* PopupMenu;
  vcl::TMenuItem* mnuShow;
  vcl::TTimer* StatusTimer;
  vcl::TTrayIcon* TrayIcon;

  std::string ProgramDir;   // with its closing separator
  std::string IniFileName;  // ProgramDir + "USV_Korva_D.INI"
  uint8_t LanguageCode = 2;
  std::string LanguageDllName;
  platform::LanguageLibrary LanguageDll;  // not loaded: every text is the fallback

  void FormCreate(vcl::TObject* sender);
  void FormDestroy(vcl::TObject* sender);
  void StatusTimerTimer(vcl::TObject* sender);
  void mnuShowClick(vcl::TObject* sender);

  void AddTrayIcon();
  void RemoveTrayIcon();

  void WndProc(vcl::TMessage& message) override;
  void WMTrayNotify(vcl::TMessage& message);

  // Text `id` of the language library, at most 511 characters, or "No entry
  // in language-dll".
  std::string GetLangString(uint32_t id) const;

 private:
  // Puts the tip and the icon into the record for the shell to be told;
  // a tip that differs from the last one is echoed.
  void ShowTip(const std::string& tip, vcl::TTrayIconImage image);
  std::string echoed_;
};

extern TKorvaTray* KorvaTray;

// The application ("Korva Tray", no task bar button, its main window never
// shown) and its window. The loop runs until the window closes; the end
// frees the window, which takes its icon away.
void CreateProgramWindows();
// The application's settings alone, for a window made otherwise (tests).
void PrepareApplication();
void RunProgram();
void EndProgram();
// The system asks the program to end: the window closes.
void CloseOnRequest();

}  // namespace tray
