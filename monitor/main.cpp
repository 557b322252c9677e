#include "monitor/main.h"

#include <exception>

#include "monitor/Abschaltsignal.h"
#include "monitor/D2XXUnit.h"
#include "monitor/Globfunc.h"
#include "monitor/History.h"
#include "monitor/Info.h"
#include "monitor/Settings.h"
#include "monitor/USB_Status.h"
#include "monitor/config.h"
#include "monitor/header.h"
#include "platform/EventLoop.h"
#include "platform/Files.h"
#include "platform/Instance.h"
#include "platform/MessageBoxes.h"
#include "platform/NamedMutex.h"
#include "platform/Services.h"
#include "platform/Sound.h"
#include "vcl/Backend.h"

namespace monitor {

std::atomic<bool> ShutdownSignalEnabled{false};
TfrmKorvamon* frmKorvamon = nullptr;

namespace {

// Held from the guard to the end of the process.
platform::NamedMutex instanceMutex;

struct InstanceQuestion {
  std::string running;
  std::string once;
  std::string show;
};

// The texts are UTF-8 here and shown in the system's code page, whichever it is.
InstanceQuestion QuestionIn(GuardLanguage language) {
  auto text = [](std::string_view utf8) { return platform::NarrowFromUtf8(utf8); };
  switch (language) {
    case GuardLanguage::German:
      return {text("Eine Instanz von KORVA-DI-ZOD l\xC3\xA4uft bereits !"),
              "Die Anwendung darf nicht mehrfach gestartet werden.", "Laufende Instanz anzeigen ?"};
    case GuardLanguage::French:
      return {text("Une instance de KORVA-DI-ZOD est d\xC3\xA9j\xC3\xA0 en cours !"),
              text("Le d\xC3\xA9marrage de plusieurs instances de cette application n'est pas "
                   "permissible."),
              "Afficher instance en cours ?"};
    case GuardLanguage::English:
      break;
  }
  return {"An instance of KORVA-DI-ZOD already is running !",
          "The application cannot be started repeatedly.", "Show running instance ?"};
}

constexpr const char* kFtdiMissing =
    "Cannot open the USB-library ftd2xx.dll\r\n\r\n"
    "Please connect KORVA USV or reinstall driver.\r\n\r\n"
    "Finally restart application.";
constexpr const char* kFtdiWrongArchitecture =
    "The USB-library ftd2xx.dll that was found is built for another processor than korvamon "
    "(32-bit instead of 64-bit, or the other way round).\r\n\r\n"
    "Please install the driver that matches korvamon.\r\n\r\n"
    "Finally restart application.";
void ShowError(const std::string& text) {
  platform::messageBoxes().Show(text, vcl::Application().Title(),
                                platform::kMbOk | platform::kMbIconError);
}

template <class Form>
Form* FindApplicationForm() {
  vcl::TApplication& application = vcl::Application();
  for (int i = 0; i < application.ComponentCount(); ++i) {
    if (auto* form = dynamic_cast<Form*>(application.Components(i)))
      return form;
  }
  return nullptr;
}

}  // namespace

uint8_t WindowsVersionCode(const platform::OsVersion& version) {
  if (version.platformId == platform::kPlatformNt) {
    if (version.major == 6)
      return 1;
    if (version.major == 5)
      return version.minor == 1 ? 2 : 3;
    if (version.major < 5)
      return 4;
    return 0;
  }
  if (version.platformId == platform::kPlatformWin9x) {
    if (version.major == 4 && version.minor == 10)
      return 5;
    if (version.minor == 0)
      return 6;
    if (version.major == 4 && version.minor == 90)
      return 7;
  }
  return 0;
}

// ---------------------------------------------------------------- single instance

bool PassSingleInstanceGuard(SecondInstance second) {
  instanceMutex = platform::NamedMutex::Create(kInstanceMutexName);
  if (!instanceMutex.alreadyExisted())
    return true;
  // The other instance's mutex is not ours to keep.
  instanceMutex.Close();
  if (second == SecondInstance::EndAtOnce)
    return false;
  const InstanceQuestion question = QuestionIn(Settings::Current().InstanceQuestionLanguage());
  const std::string text = question.running + "\r\n" + question.once + "\r\n\r\n" + question.show;
  const int answer = platform::messageBoxes().Show(text, "korvamon",
                                                   platform::kMbYesNo | platform::kMbIconWarning);
  if (answer == platform::kIdYes)
    ShowRunningInstance();
  return false;
}

void ReleaseSingleInstanceMutex() {
  instanceMutex.Close();
}

void ShowRunningInstance() {
  // Our own application window must not be the one the search finds.
  vcl::Application().SetTitle("DUMMY");
  if (platform::SendToRunningInstance(kApplicationTitle, "TfrmKorvamon", WM_TRAYICON, 0x100,
                                      vcl::WM_LBUTTONDBLCLK)) {
    platform::sound().MessageBeep(platform::kMbIconWarning);
  }
}

// ---------------------------------------------------------------- the window

void PostToMainWindow(vcl::TWindowHandle window, std::function<void(TfrmKorvamon&)> work) {
  platform::MainLoop().Post([window, work = std::move(work)] {
    if (auto* main = dynamic_cast<TfrmKorvamon*>(vcl::FindForm(window)))
      work(*main);
  });
}

TfrmKorvamon::TfrmKorvamon(vcl::TComponent* owner) : vcl::TForm(owner, "TfrmKorvamon") {
  BuildLayout();
  BuildMenu();
  BuildTimers();
  BuildSerialLink();
  OnCreate = [this](vcl::TObject* sender) { FormCreate(sender); };
  OnShow = [this](vcl::TObject* sender) { FormShow(sender); };
  OnClose = [this](vcl::TObject* sender, vcl::TCloseAction& action) { FormClose(sender, action); };
  OnDestroy = [this](vcl::TObject* sender) { FormDestroy(sender); };
  OnKeyDown = [this](vcl::TObject* sender, uint16_t& key, vcl::TShiftState shift) {
    FormKeyDown(sender, key, shift);
  };
}

TfrmKorvamon::~TfrmKorvamon() {
  if (frmKorvamon == this)
    frmKorvamon = nullptr;
}

void TfrmKorvamon::FormCreate(vcl::TObject*) {
  Settings settings = Settings::Current();
  LanguageCode = LanguageCodeFromSetting(settings.Language());

  try {
    if (!LoadFtd2xx() && settings.UsbPort()) {
      const bool wrong = Ftd2xx().Failure() == platform::LoadFailure::WrongArchitecture;
      ShowError(wrong ? kFtdiWrongArchitecture : kFtdiMissing);
    }
  } catch (const std::exception&) {
    ShowError(GetLangString(146) + "\r\n\r\n" + GetLangString(147));
  }

  LogLimit8k = settings.LogLimit8k();
  WindowsVersion = WindowsVersionCode(platform::GetOsVersion());
  ShutdownSignalEnabled = settings.ShutdownSignalEnabled();
  FirstShow = true;
  FirstFrame = true;
  UsbOpenErrorLogged = false;
  RegisterSelectedHotKey();

  vcl::TApplication& application = vcl::Application();
  application.HintColor = vcl::clYellow;
  application.HintPause = 500;
  application.HintShortPause = 200;
  application.HintHidePause = 8000;

  BlinkMs = 0;
  BlinkTiming = false;
  BlinkCount = 0;
  TimerOpen->Tag = 0;

  if (const SettingsWriteResult migration = settings.MigrateLegacyOpenKeys(); !migration.ok())
    ReportStartWriteFailure(migration.error);

  SetHeight(kHeightCollapsed);
  edRead->Clear();
  AddTrayIcon();
  AppDir = platform::ProgramFolder();
  PrepareShutdown();
  UsbShutdownSent = false;

  WaitStartDelay();
}

void TfrmKorvamon::RegisterSelectedHotKey() {
  uint16_t key = 0;
  switch (Settings::Current().SelectedHotKey()) {
    case HotKeyChoice::AltO:
      key = 'O';
      break;
    case HotKeyChoice::AltM:
      key = 'M';
      break;
    case HotKeyChoice::None:
      return;
  }
  Handle();  // the key's messages need the window
  vcl::backend().RegisterHotKey(*this, kHotKeyId, vcl::MOD_ALT, key);
}

void TfrmKorvamon::WaitStartDelay() {
  const int32_t seconds = Settings::Current().ReadWaitTimeSeconds();
  if (seconds > 0)
    platform::MainLoop().SleepAnsweringSent(static_cast<uint32_t>(seconds) * 1000);
}

void TfrmKorvamon::FormShow(vcl::TObject*) {
  if (!FirstShow)
    return;
  FirstShow = false;

  LanguageCode = ChooseLanguage(LanguageCode);
  if (LanguageDll.Load(LanguageCode))
    ApplyLanguageTexts();

  const Settings::HistoryPathResult history = Settings::Current().EnsureHistoryPath(AppDir);
  if (!history.write.ok())
    ReportStartWriteFailure(history.write.error);

  OpenConfiguredLink();
  TimerConnection->SetEnabled(true);
}

void TfrmKorvamon::OpenConfiguredLink() {
  const Settings settings = Settings::Current();
  const int32_t port = settings.ComPort();
  if (settings.UsbPort()) {
    OpenUsbLink();
    if (Ftd2xxLoaded())
      UsbMode = true;
    return;
  }
  // A link that cannot be opened is reported where the link reports its
  // state; the watchdog must start all the same.
  try {
    OpenSerialLink(port);
  } catch (const std::exception& error) {
    StatBar->Panels()[0].SetText(error.what());
    LogHistory(error.what());
  }
}

void TfrmKorvamon::ApplyLanguageTexts() {
  SetCaption(GetLangString(30));
  lblText47->SetCaption(GetLangString(47));
  btnKonfig->SetCaption(GetLangString(1));
  btnKonfig->SetHint(GetLangString(396));
  btnHistory->SetCaption(GetLangString(2));
  btnHistory->SetHint(GetLangString(398));
  btnUpDown->SetCaption(GetLangString(3));
  btnUpDown->SetHint(GetLangString(400));
  btnHide->SetCaption(GetLangString(4));
  btnHide->SetHint(GetLangString(402));
  labOK->SetCaption(GetLangString(5));
  labBAT->SetCaption(GetLangString(9));
  labAlarm->SetCaption(GetLangString(10));
  labFull->SetCaption(GetLangString(31));
  lblExtended->SetCaption(GetLangString(15));
  lblSeriell->SetCaption("");
  mnuCaption->Caption = GetLangString(16);
  mnuShow->Caption = GetLangString(17);
  mnuKonfig->Caption = GetLangString(18);
  mnuProtokoll->Caption = GetLangString(19);
  mnuInfo->Caption = GetLangString(20);
  mnuBeenden->Caption = GetLangString(21);
}

void TfrmKorvamon::FormClose(vcl::TObject*, vcl::TCloseAction&) {
  TimerConnection->SetEnabled(false);
  TimerShutDown->SetEnabled(false);
  CloseSerialLink();
  CloseUsbLink();
  LogHistory(GetLangString(110));
  LogHistory(std::string(76, '*'));
  LogHistory("");
}

void TfrmKorvamon::FormDestroy(vcl::TObject*) {
  StopShutdownPulse();
  // No thread outlives the window; the device is left as the next run finds it.
  StopUsbThread();
  if (FtHandle.load())
    FtClose();
  FtHandle = nullptr;
  FtStatus = FT_OK;
  RemoveTrayIcon();
  vcl::backend().UnregisterHotKey(*this, kHotKeyId);
  LanguageDll.Free();
}

void TfrmKorvamon::ReportStartWriteFailure(const std::string& error) {
  ShowError(error);
}

// ---------------------------------------------------------------- tray icon and messages

void TfrmKorvamon::AddTrayIcon() {
  TrayIcon->Tip = vcl::Application().Title();
  TrayIcon->Add();
}

void TfrmKorvamon::RemoveTrayIcon() {
  TrayIcon->Remove();
}

void TfrmKorvamon::ShowMainWindow() {
  Show();
}

void TfrmKorvamon::WndProc(vcl::TMessage& message) {
  switch (message.Msg) {
    case WM_TRAYICON:
      WMTrayNotify(message);
      return;
    case WM_COMMEVENT:
      WMSerialEvent(message);
      return;
    case WM_COMMBROKEN:
      SCommBroken(this);
      return;
    case vcl::WM_HOTKEY:
      WMHotKey(message);
      return;
    case vcl::WM_QUERYENDSESSION:
      WMQueryEndSession(message);
      return;
    default:
      vcl::TForm::WndProc(message);
  }
}

void TfrmKorvamon::WMTrayNotify(vcl::TMessage& message) {
  switch (message.LParam) {
    case vcl::WM_LBUTTONDOWN:
      vcl::PostMessage(Handle(), vcl::WM_LBUTTONDOWN, 0, 0);
      vcl::PostMessage(Handle(), vcl::WM_LBUTTONUP, 0, 0);
      break;
    case vcl::WM_LBUTTONDBLCLK:
      ShowMainWindow();
      break;
    case vcl::WM_RBUTTONDOWN: {
      const vcl::TPoint cursor = vcl::backend().CursorPos();
      if (WindowsVersion == 1) {
        PopupMenu->Popup(cursor.X, cursor.Y);
      } else {
        PopupMenu->Popup(cursor.X - 15, cursor.Y - 140);
      }
      break;
    }
    default:
      break;
  }
}

void TfrmKorvamon::WMHotKey(vcl::TMessage& message) {
  if (message.WParam == static_cast<uintptr_t>(kHotKeyId))
    ShowMainWindow();
}

void TfrmKorvamon::WMSerialEvent(vcl::TMessage& message) {
  switch (message.WParam) {
    case 2:
      TicksWithoutEventChar = 0;
      SCommEventChar(this);
      break;
    case 128:
      SCommError(this, PostedErrorWord(message));
      break;
    default:
      break;
  }
  message.Result = static_cast<intptr_t>(message.WParam);
}

// ---------------------------------------------------------------- buttons and menu

void TfrmKorvamon::btnKonfigClick(vcl::TObject*) {
  if (!frmConfig || frmConfig->Visible())
    return;
  if (frmConfig->ShowModal() != vcl::mrOk || !frmConfig->WriteProtectRequested)
    return;
  const std::string path = SettingsFilePath();
  const std::string& title = vcl::Application().Title();
  if (platform::files().SetAttributes(
          path, platform::kFileAttributeReadOnly | platform::kFileAttributeArchive)) {
    platform::messageBoxes().Show(GetLangString(108), title,
                                  platform::kMbOk | platform::kMbIconInformation);
  } else {
    platform::messageBoxes().Show(FormatLangString(106, path), title,
                                  platform::kMbOk | platform::kMbIconError);
  }
}

void TfrmKorvamon::btnHistoryClick(vcl::TObject*) {
  if (frmHist)
    frmHist->Show();
}

void TfrmKorvamon::btnHideClick(vcl::TObject*) {
  if (vcl::backend().IsKeyDown(vcl::VK_CONTROL)) {
    Close();
  } else {
    Hide();
  }
}

void TfrmKorvamon::btnUpDownClick(vcl::TObject*) {
  SetHeight(btnUpDown->Down() ? kHeightExpanded : kHeightCollapsed);
}

void TfrmKorvamon::FormKeyDown(vcl::TObject*, uint16_t& key, vcl::TShiftState) {
  const std::string& caption = btnUpDown->Caption();
  if (caption.size() < 2 || key != static_cast<unsigned char>(caption[1]))
    return;
  btnUpDown->SetDown(!btnUpDown->Down());
  btnUpDownClick(btnUpDown);
}

void TfrmKorvamon::mnuShowClick(vcl::TObject*) {
  ShowMainWindow();
}

void TfrmKorvamon::mnuInfoClick(vcl::TObject*) {
  if (TfrmInfo* info = FindApplicationForm<TfrmInfo>())
    info->Show();
}

void TfrmKorvamon::mnuCaptionClick(vcl::TObject*) {
  ShowHeaderModal(nullptr);
}

void TfrmKorvamon::mnuBeendenClick(vcl::TObject*) {
  Close();
}

void TfrmKorvamon::LogHistory(const std::string& text) {
  if (frmHist && frmHist->MemoMsg)
    frmHist->AddHistoryLine(text);
}

}  // namespace monitor
