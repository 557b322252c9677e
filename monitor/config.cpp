#include "monitor/config.h"

#include <exception>
#include <utility>
#include <vector>

#include "common/IniFile.h"
#include "monitor/Globfunc.h"
#include "monitor/ProgramStart.h"
#include "monitor/ReactionSwitches.h"
#include "monitor/Settings.h"
#include "monitor/UDPInterface.h"
#include "monitor/lang.h"
#include "monitor/main.h"
#include "platform/Files.h"
#include "platform/MessageBoxes.h"
#include "platform/Services.h"
#include "vcl/Backend.h"
#include "vcl/Screen.h"

namespace monitor {

TfrmConfig* frmConfig = nullptr;

namespace {

constexpr const char* kCom = "COM";
constexpr const char* kCheck = "CHECK";
constexpr const char* kStart = "START";
constexpr const char* kAction = "ACTION";

constexpr uint32_t kWatchdogMs = 1000;
// A press on the box's square, not on its caption, toggles the write protection.
constexpr int kCheckSquareWidth = 18;
constexpr const char* kLogFileName = "Korva_USV.log";
constexpr const char* kLogFileFilter = "Logging files (*.log)|*.LOG|Text files (*.txt)|*.TXT";

std::string Trimmed(const std::string& text) {
  size_t first = 0;
  size_t last = text.size();
  while (first < last && static_cast<unsigned char>(text[first]) <= ' ')
    ++first;
  while (last > first && static_cast<unsigned char>(text[last - 1]) <= ' ')
    --last;
  return text.substr(first, last - first);
}

std::string Switch(bool on) {
  return on ? "1" : "0";
}

// The folder the file dialogs start in: the drive of the program ("C:\").
std::string DriveRootOf(const std::string& path) {
  if (path.size() >= 3 && path[1] == ':')
    return path.substr(0, 3);
  if (!path.empty() && (path[0] == '/' || path[0] == '\\'))
    return path.substr(0, 1);
  return {};
}

// The hourglass for as long as it lives, whatever way the work ends.
class WaitCursor {
 public:
  WaitCursor() : previous_(vcl::Screen().Cursor()) { vcl::Screen().SetCursor(vcl::crHourGlass); }
  ~WaitCursor() { vcl::Screen().SetCursor(previous_); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;

 private:
  vcl::TCursor previous_;
};

}  // namespace

TfrmConfig::TfrmConfig(vcl::TComponent* owner) : vcl::TForm(owner, "TfrmConfig") {
  BuildLayout();
  BindEvents();
  // The window's first state is locked: only a showing that finds the file
  // writable unlocks it.
  cbWriteProtect->SetChecked(true);
  LockControls();
}

TfrmConfig::~TfrmConfig() {
  if (frmConfig == this)
    frmConfig = nullptr;
}

void TfrmConfig::BindEvents() {
  using vcl::TObject;
  OnCreate = [this](TObject* sender) { FormCreate(sender); };
  OnShow = [this](TObject* sender) { FormShow(sender); };
  OnClick = [this](TObject* sender) { FormClick(sender); };
  Ok->OnClick = [this](TObject* sender) { OkClick(sender); };
  btnAbbrechen->OnClick = [this](TObject* sender) { btnAbbrechenClick(sender); };
  btnHistpath->OnClick = [this](TObject* sender) { btnHistpathClick(sender); };
  cboxCOM->OnChange = [this](TObject* sender) { cboxCOMChange(sender); };

  const std::pair<vcl::TButton*, void (TfrmConfig::*)(TObject*)> buttons[] = {
      {btnDC_LOW, &TfrmConfig::btnDC_LOWClick},
      {btnAlarm, &TfrmConfig::btnAlarmClick},
      {btnNoConnect, &TfrmConfig::btnNoConnectClick},
      {btnAkku, &TfrmConfig::btnAkkuClick},
      {btnOver85, &TfrmConfig::btnOver85Click},
      {btnUnder85, &TfrmConfig::btnUnder85Click},
      {btnTestlauf, &TfrmConfig::btnTestlaufClick},
      {btnTestlaufAlarm, &TfrmConfig::btnTestlaufAlarmClick},
      {btnTestlaufNOC, &TfrmConfig::btnTestlaufNOCClick},
      {btnTestlaufAKKU, &TfrmConfig::btnTestlaufAKKUClick},
      {btnTestlaufOver85, &TfrmConfig::btnTestlaufOver85Click},
      {btnTestlaufUnder85, &TfrmConfig::btnTestlaufUnder85Click},
  };
  for (const auto& [button, handler] : buttons)
    button->OnClick = [this, h = handler](TObject* sender) { (this->*h)(sender); };

  const std::pair<vcl::TCheckBox*, void (TfrmConfig::*)(TObject*)> boxes[] = {
      {cbDC_LOWStart, &TfrmConfig::cbDC_LOWStartClick},
      {cbAlarmStart, &TfrmConfig::cbAlarmStartClick},
      {cbNoConnectStart, &TfrmConfig::cbNoConnectStartClick},
      {cbAkkuStart, &TfrmConfig::cbAkkuStartClick},
      {cbOver85start, &TfrmConfig::cbOver85startClick},
      {cbUnder85start, &TfrmConfig::cbUnder85startClick},
      {cbDC_LOShutDown, &TfrmConfig::cbDC_LOShutDownClick},
      {cbShutdown, &TfrmConfig::cbShutdownClick},
      {cbMusic, &TfrmConfig::cbMusicClick},
      {chkWinShutdown, &TfrmConfig::chkWinShutdownClick},
      {cbOpen, &TfrmConfig::cbOpenClick},
      {cbOpen_DC_LOW, &TfrmConfig::cbOpenClick},
      {cbOpen_Alarm, &TfrmConfig::cbOpenClick},
      {cbOpen_NoConn, &TfrmConfig::cbOpenClick},
      {cbOpen_Akku, &TfrmConfig::cbOpenClick},
      {cbOpen_Under85, &TfrmConfig::cbOpenClick},
  };
  for (const auto& [box, handler] : boxes)
    box->OnClick = [this, h = handler](TObject* sender) { (this->*h)(sender); };
  cbWriteProtect->OnMouseDown = [this](TObject* sender, vcl::TMouseButton button,
                                       vcl::TShiftState shift, int x, int y) {
    cbWriteProtectMouseDown(sender, button, shift, x, y);
  };

  for (vcl::TComponent* component : [this] {
         std::vector<vcl::TComponent*> all;
         for (int i = 0; i < ComponentCount(); ++i)
           all.push_back(Components(i));
         return all;
       }()) {
    if (auto* arrows = dynamic_cast<vcl::TUpDown*>(component))
      arrows->OnChanging = [this](TObject* sender, bool& allow) { udMinChanging(sender, allow); };
  }

  // Program fields, the log path, the seconds fields and the repeat count.
  const std::vector<vcl::TEdit*> valued = {
      edDC_LOW,         edAlarm,         edNoConnect,      edAkku,         edOver85,
      edUnder85,        edHistpath,      edStartSec,       edSDSec,        edAlarmSec,
      edVbSec,          edAkkuSec,       edOver85Sec,      edUnder85Sec,   edOpensec,
      edOpensec_DC_LOW, edOpensec_Alarm, edOpensec_NoConn, edOpenSec_Akku, edOpensec_Under85,
      edSDRepeat};
  for (vcl::TEdit* field : valued)
    field->OnChange = [this](TObject* sender) { ValueChange(sender); };
}

// ---------------------------------------------------------------- creation and showing

void TfrmConfig::FormCreate(vcl::TObject*) {
  iniFileName_ = SettingsFilePath();
  if (frmKorvamon)
    ApplyLanguage();
  LoadSettings();
  lblSDmal->SetVisible(false);
  edSDRepeat->SetVisible(false);
  udSDRepeat->SetVisible(false);
  PageControl1->SetActivePageIndex(0);
}

void TfrmConfig::FormShow(vcl::TObject*) {
  cboxCOM->ClearItems();
  cboxCOM->AddItem("USB");
  for (int port = 1; port <= 8; ++port)
    cboxCOM->AddItem("COM" + std::to_string(port));
  LoadSettings();
  ApplyFrameLengthRule();
  modified_ = false;
  btnAbbrechen->SetFocus();

  const uint32_t attributes = platform::files().GetAttributes(iniFileName_);
  writeProtected_ = attributes == platform::kInvalidFileAttributes ||
                    (attributes & platform::kFileAttributeReadOnly) != 0;
  if (!writeProtected_) {
    UnlockControls();
    // The rule ran above while the box still held the lock of the last
    // showing (or of the window's first state); now it holds the truth.
    ApplyFrameLengthRule();
  } else {
    // Also when the file became read-only while the dialog was unlocked.
    LockControls();
  }
}

void TfrmConfig::ApplyFrameLengthRule() {
  const bool charge28 = frmKorvamon ? frmKorvamon->Has28CharFrames : true;
  const std::vector<vcl::TControl*> chargePage = {
      gbOn85,    cbOver85start, cbUnder85start,    edOver85,          edUnder85,
      btnOver85, btnUnder85,    btnTestlaufOver85, btnTestlaufUnder85};
  if (charge28) {
    if (!cbWriteProtect->Checked()) {
      for (vcl::TControl* control : chargePage)
        control->SetEnabled(true);
      cbShutdown->SetEnabled(cbDC_LOShutDown->Checked());
    }
    return;
  }
  for (vcl::TControl* control : chargePage)
    control->SetEnabled(false);
  cbShutdown->SetEnabled(false);
  udSDRepeat->SetEnabled(false);
}

void TfrmConfig::FormClick(vcl::TObject*) {
  // A click with F1 held shows the UDP ports.
  if (vcl::backend().KeyStateDown(vcl::VK_F1) && dmUDP)
    dmUDP->ShowUdpPorts();
}

// ---------------------------------------------------------------- loading

void TfrmConfig::LoadSettings() {
  const Settings settings{common::IniFile(iniFileName_)};

  if (settings.UsbPort()) {
    cboxCOM->SetItemIndex(0);
  } else {
    const std::string entry = settings.DialogComPortEntry();
    cboxCOM->SelectText(entry);
    if (!entry.empty())
      chkWinShutdown->SetEnabled(false);
  }

  const std::pair<vcl::TEdit*, ProgramEvent> programs[] = {
      {edDC_LOW, ProgramEvent::DcLow},    {edAlarm, ProgramEvent::Alarm},
      {edAkku, ProgramEvent::Akku},       {edOver85, ProgramEvent::Over85},
      {edUnder85, ProgramEvent::Under85}, {edNoConnect, ProgramEvent::NoConnect}};
  for (const auto& [field, event] : programs)
    field->SetText(settings.ProgramCommand(event));

  struct DelayRow {
    vcl::TUpDown* minutes;
    vcl::TUpDown* seconds;
    DelayPair value;
  };
  const DelayRow delays[] = {
      {udMin, udSec, settings.DialogReactionDelay(ReactionDelay::ShutDown)},
      {udStartMin, udStartSec, settings.DialogReactionDelay(ReactionDelay::Start)},
      {udAlarmMin, udAlarmSec, settings.DialogReactionDelay(ReactionDelay::Alarm)},
      {udVbMin, udVbSec, settings.DialogReactionDelay(ReactionDelay::Verbindung)},
      {udAkkuMin, udAkkuSec, settings.DialogReactionDelay(ReactionDelay::Akku)},
      {udOver85Min, udOver85Sec, settings.DialogReactionDelay(ReactionDelay::Over85)},
      {udUnder85Min, udUnder85Sec, settings.DialogReactionDelay(ReactionDelay::Under85)},
      {udOpenmin_DC_LOW, udOpensec_DC_LOW, settings.OpenDelay(OpenEvent::Batt)},
      {udOpenmin_Alarm, udOpensec_Alarm, settings.OpenDelay(OpenEvent::Alarm)},
      {udOpenmin_Akku, udOpenSec_Akku, settings.OpenDelay(OpenEvent::Akku)},
      {udOpenmin_NoConn, udOpensec_NoConn, settings.OpenDelay(OpenEvent::NoConn)},
      {udOpenmin_Under85, udOpensec_Under85, settings.OpenDelay(OpenEvent::Full)},
  };
  for (const DelayRow& row : delays) {
    row.minutes->SetPosition(row.value.minutes);
    row.seconds->SetPosition(row.value.seconds);
  }

  // A start switch counts only with a program to start.
  const std::pair<vcl::TCheckBox*, ProgramEvent> starts[] = {
      {cbDC_LOWStart, ProgramEvent::DcLow},        {cbAlarmStart, ProgramEvent::Alarm},
      {cbOver85start, ProgramEvent::Over85},       {cbUnder85start, ProgramEvent::Under85},
      {cbNoConnectStart, ProgramEvent::NoConnect}, {cbAkkuStart, ProgramEvent::Akku}};
  for (const auto& [box, event] : starts)
    box->SetChecked(settings.DialogStartSwitch(event) && !ProgramField(event)->Text().empty());
  cbDC_LOShutDown->SetChecked(settings.DialogShutdownSwitch());

  const std::pair<vcl::TCheckBox*, OpenEvent> opens[] = {{cbOpen_DC_LOW, OpenEvent::Batt},
                                                         {cbOpen_Alarm, OpenEvent::Alarm},
                                                         {cbOpen_Akku, OpenEvent::Akku},
                                                         {cbOpen_NoConn, OpenEvent::NoConn},
                                                         {cbOpen_Under85, OpenEvent::Full}};
  for (const auto& [box, event] : opens)
    box->SetChecked(settings.DialogOpenWindowSwitch(event));
  cbMusic->SetChecked(settings.DialogPlaySound());
  cbShutdown->SetChecked(settings.DialogShutdownSignal());
  chkWinShutdown->SetChecked(settings.DialogWindowsShutdownSignal());

  edHistpath->SetText(settings.HistoryPath());

  const bool shutdownRow = cbDC_LOShutDown->Checked() && !cbWriteProtect->Checked();
  cbShutdown->SetEnabled(shutdownRow);
  udSDRepeat->SetPosition(settings.DialogRepeatAbschaltung());
  udSDRepeat->SetEnabled(shutdownRow);
  edSDRepeat->SetEnabled(shutdownRow);

  PublishSwitches();
}

// ---------------------------------------------------------------- saving

void TfrmConfig::OkClick(vcl::TObject*) {
  if (!modified_) {
    SetModalResult(vcl::mrCancel);
    return;
  }
  for (vcl::TEdit* field : {edDC_LOW, edAlarm, edNoConnect, edAkku, edOver85, edUnder85}) {
    const std::string text = Trimmed(field->Text());
    field->SetText(text);
    if (!text.empty() && !ValidateProgramEdit(field))
      return;
  }
  const int shutdownSeconds = udMin->Position() * 60 + udSec->Position();
  const int startSeconds = udStartMin->Position() * 60 + udStartSec->Position();
  const bool both = cbDC_LOWStart->Checked() && cbDC_LOShutDown->Checked();
  if (both && (shutdownSeconds == 0 || startSeconds > shutdownSeconds)) {
    ShowInformation(GetLangString(346));
    cbDC_LOWStart->SetChecked(false);
    PublishSwitches();
    return;
  }
  try {
    SaveSettings();
  } catch (const std::exception& error) {
    // The dialog stays open with the user's changes, to be saved again.
    vcl::Application().HandleException(error);
    return;
  }
  if (cbWriteProtect->Checked())
    LockControls();
  SetModalResult(vcl::mrOk);
}

void TfrmConfig::SaveSettings() {
  const WaitCursor hourglass;
  WriteProtectRequested = false;
  // Every key in one replacement of the file: a refused save leaves the
  // file as it was, never half saved.
  std::vector<common::IniValue> values;
  auto write = [&values](const char* section, const char* key, const std::string& value) {
    values.push_back({section, key, value});
  };
  auto text = [](const vcl::TControl* field) { return field->Text(); };

  const int port = cboxCOM->ItemIndex();
  write(kCom, "USBPORT", Switch(port == 0));
  write(kCom, "COMPORT", port > 0 ? std::to_string(port) : "0");

  write(kStart, "DC_LOW", text(edDC_LOW));
  write(kStart, "ALARM", text(edAlarm));
  write(kStart, "NOCONNECT", text(edNoConnect));
  write(kStart, "AKKU", text(edAkku));
  write(kStart, "OVER85", text(edOver85));
  write(kStart, "UNDER85", text(edUnder85));

  write(kCheck, "DC_LOW_Start", Switch(cbDC_LOWStart->Checked()));
  write(kCheck, "DC_LOW_ShutDown", Switch(cbDC_LOShutDown->Checked()));
  write(kCheck, "AlarmStart", Switch(cbAlarmStart->Checked()));
  write(kCheck, "NoConnect", Switch(cbNoConnectStart->Checked()));
  write(kCheck, "Akku", Switch(cbAkkuStart->Checked()));
  write(kCheck, "Over85", Switch(cbOver85start->Checked()));
  write(kCheck, "Under85", Switch(cbUnder85start->Checked()));

  write(kAction, "OpenWindow_Batt", Switch(cbOpen_DC_LOW->Checked()));
  write(kAction, "OpenWindow_Alarm", Switch(cbOpen_Alarm->Checked()));
  write(kAction, "OpenWindow_NoConn", Switch(cbOpen_NoConn->Checked()));
  write(kAction, "OpenWindow_Akku", Switch(cbOpen_Akku->Checked()));
  write(kAction, "OpenWindow_Full", Switch(cbOpen_Under85->Checked()));
  write(kAction, "PlaySound", Switch(cbMusic->Checked()));
  write(kAction, "ShutdownSignal", Switch(cbShutdown->Checked()));
  write(kCheck, "HISTORYPATH", text(edHistpath));
  write(kAction, "WINDOWSSDSIGNAL", Switch(chkWinShutdown->Checked()));
  write(kCheck, "RepeatAbschaltung", std::to_string(udSDRepeat->Position()));

  const std::pair<const char*, vcl::TEdit*> delays[] = {
      {"ShutDownMinutes", edSDMin},     {"ShutDownSeconds", edSDSec},
      {"StartMinutes", edStartMin},     {"StartSeconds", edStartSec},
      {"AlarmMinutes", edAlarmMin},     {"AlarmSeconds", edAlarmSec},
      {"VerbindungMinutes", edVbMin},   {"VerbindungSeconds", edVbSec},
      {"AkkuMinutes", edAkkuMin},       {"AkkuSeconds", edAkkuSec},
      {"Over85Minutes", edOver85Min},   {"Over85Seconds", edOver85Sec},
      {"Under85Minutes", edUnder85Min}, {"Under85Seconds", edUnder85Sec}};
  for (const auto& [key, field] : delays)
    write(kStart, key, text(field));

  const std::pair<const char*, vcl::TEdit*> openDelays[] = {
      {"OpenMin_Batt", edOpenmin_DC_LOW},   {"OpenSec_Batt", edOpensec_DC_LOW},
      {"OpenMin_Alarm", edOpenmin_Alarm},   {"OpenSec_Alarm", edOpensec_Alarm},
      {"OpenMin_Akku", edOpenmin_Akku},     {"OpenSec_Akku", edOpenSec_Akku},
      {"OpenMin_Full", edOpenmin_Under85},  {"OpenSec_Full", edOpensec_Under85},
      {"OpenMin_NoConn", edOpenmin_NoConn}, {"OpenSec_NoConn", edOpensec_NoConn}};
  for (const auto& [key, field] : openDelays)
    write(kAction, key, text(field));

  const common::IniFile file(iniFileName_);
  file.WriteStrings(values);
  ShutdownSignalEnabled = cbShutdown->Checked() && Settings(file).ShutdownAfterBattery();
  WriteProtectRequested = !writeProtected_ && cbWriteProtect->Checked();
}

void TfrmConfig::btnAbbrechenClick(vcl::TObject*) {
  SetModalResult(vcl::mrCancel);
}

// ---------------------------------------------------------------- locking

namespace {

void EnableAll(const std::vector<vcl::TControl*>& controls, bool enabled) {
  for (vcl::TControl* control : controls)
    control->SetEnabled(enabled);
}

}  // namespace

// What the write protection locks and its release unlocks alike; the
// release leaves the repeat row, the shutdown boxes and the protection's own
// box to their own rules, and the lock leaves the file button alone.
std::vector<vcl::TControl*> TfrmConfig::LockedControls() const {
  return {cboxCOM,
          edDC_LOW,
          edAlarm,
          edNoConnect,
          edAkku,
          edOver85,
          edUnder85,
          btnDC_LOW,
          btnAlarm,
          btnNoConnect,
          btnAkku,
          btnOver85,
          btnUnder85,
          btnTestlauf,
          btnTestlaufAlarm,
          btnTestlaufNOC,
          btnTestlaufAKKU,
          btnTestlaufOver85,
          btnTestlaufUnder85,
          cbDC_LOWStart,
          cbAlarmStart,
          cbNoConnectStart,
          cbAkkuStart,
          cbOver85start,
          cbUnder85start,
          cbDC_LOShutDown,
          cbMusic,
          edHistpath,
          Ok};
}

void TfrmConfig::LockControls() {
  EnableAll(LockedControls(), false);
  EnableAll({cbShutdown, edSDRepeat, udSDRepeat, cbWriteProtect, chkWinShutdown}, false);
  for (vcl::TComponent* component : [this] {
         std::vector<vcl::TComponent*> all;
         for (int i = 0; i < ComponentCount(); ++i)
           all.push_back(Components(i));
         return all;
       }()) {
    // Every delay field and its arrows, and every window-open box.
    if (dynamic_cast<vcl::TUpDown*>(component) || dynamic_cast<vcl::TMaskEdit*>(component))
      static_cast<vcl::TControl*>(component)->SetEnabled(false);
  }
  EnableAll(
      {edStartMin, edSDMin, edAlarmMin, edVbMin, edAkkuMin, edOver85Min, edUnder85Min, edOpenmin,
       edOpenmin_DC_LOW, edOpenmin_Alarm, edOpenmin_NoConn, edOpenmin_Akku, edOpenmin_Under85,
       cbOpen, cbOpen_DC_LOW, cbOpen_Alarm, cbOpen_NoConn, cbOpen_Akku, cbOpen_Under85},
      false);
  cbWriteProtect->SetVisible(false);
  pnlWP->SetVisible(true);
}

void TfrmConfig::UnlockControls() {
  EnableAll(LockedControls(), true);
  btnHistpath->SetEnabled(true);
  // Delay fields and arrows, but not the repeat row, which keeps its own rule.
  EnableAll({edStartMin,   udStartMin,   edStartSec,   udStartSec,  edSDMin,     udMin,
             edSDSec,      udSec,        edAlarmMin,   udAlarmMin,  edAlarmSec,  udAlarmSec,
             edVbMin,      udVbMin,      edVbSec,      udVbSec,     edAkkuMin,   udAkkuMin,
             edAkkuSec,    udAkkuSec,    edOver85Min,  udOver85Min, edOver85Sec, udOver85Sec,
             edUnder85Min, udUnder85Min, edUnder85Sec, udUnder85Sec},
            true);
  EnableAll(
      {cbOpen,         edOpenmin,         udOpenmin,         edOpensec,         udOpensec,
       cbOpen_DC_LOW,  edOpenmin_DC_LOW,  udOpenmin_DC_LOW,  edOpensec_DC_LOW,  udOpensec_DC_LOW,
       cbOpen_Alarm,   edOpenmin_Alarm,   udOpenmin_Alarm,   edOpensec_Alarm,   udOpensec_Alarm,
       cbOpen_NoConn,  edOpenmin_NoConn,  udOpenmin_NoConn,  edOpensec_NoConn,  udOpensec_NoConn,
       cbOpen_Akku,    edOpenmin_Akku,    udOpenmin_Akku,    edOpenSec_Akku,    udOpenSec_Akku,
       cbOpen_Under85, edOpenmin_Under85, udOpenmin_Under85, edOpensec_Under85, udOpensec_Under85},
      true);
  cbWriteProtect->SetVisible(true);
  cbWriteProtect->SetEnabled(true);
  cbWriteProtect->SetChecked(false);
  chkWinShutdown->SetEnabled(frmKorvamon && frmKorvamon->UsbMode);
  pnlWP->SetVisible(false);
}

// ---------------------------------------------------------------- texts

void TfrmConfig::ApplyLanguage() {
  auto set = [](vcl::TControl* control, uint32_t caption, uint32_t hint) {
    if (caption != 0)
      control->SetCaption(GetLangString(caption));
    if (hint != 0) {
      control->SetHint(GetLangString(hint));
      control->SetShowHint(true);
    }
  };
  SetCaption("KORVA-DI-ZOD " + GetLangString(18));
  set(lblCOM, 300, 0);
  set(cboxCOM, 0, 418);
  const struct {
    vcl::TTabSheet* page;
    vcl::TLabel* heading;
    vcl::TGroupBox* group;
    uint32_t pageText, headingText, groupHint;
  } pages[] = {
      {TS_Allgemein, lab_Allgemein, gbAction, 22, 310, 430},
      {TS_Pufferbetrieb, lab_Pufferbetrieb, gbDC_LOW, 34, 35, 410},
      {TS_Pufferbereitschaft, lab_Pufferbereitschaft, gbAlarm, 36, 37, 412},
      {TS_Verbindung, lab_Verbindung, gbNoConect, 38, 39, 414},
      {TS_Akkutausch, lab_Akkutausch, gbAkku, 40, 41, 416},
      {TS_Ladezustand, lab_Ladezustand, gbOn85, 42, 43, 413},
  };
  for (const auto& row : pages) {
    set(row.page, row.pageText, 0);
    set(row.heading, row.headingText, 0);
    set(row.group, 0, row.groupHint);
  }
  set(pnlWP, 312, 0);
  set(cbWriteProtect, 314, 0);
  set(lab_Histpath, 49, 0);
  set(cbDC_LOWStart, 319, 404);
  set(cbDC_LOShutDown, 318, 408);
  set(lblSDmal, 120, 0);
  set(cbShutdown, 323, 0);
  for (vcl::TCheckBox* box :
       {cbAlarmStart, cbNoConnectStart, cbAkkuStart, cbOver85start, cbUnder85start})
    set(box, 319, 406);
  for (vcl::TCheckBox* box :
       {cbOpen_DC_LOW, cbOpen_Alarm, cbOpen_NoConn, cbOpen_Akku, cbOpen_Under85, cbOpen})
    set(box, 321, 0);
  set(cbMusic, 322, 0);
  set(chkWinShutdown, 317, 0);
  set(lblWinShutdown, 325, 0);
  set(imgOver85, 0, 424);
  set(edOver85, 0, 424);
  set(imgUnder85, 0, 426);
  set(edUnder85, 0, 426);
  set(btnHistpath, 324, 421);
  for (vcl::TButton* button : {btnDC_LOW, btnAlarm, btnNoConnect, btnAkku, btnOver85, btnUnder85})
    set(button, 324, 420);
  for (vcl::TButton* button : {btnTestlauf, btnTestlaufAlarm, btnTestlaufNOC, btnTestlaufAKKU,
                               btnTestlaufOver85, btnTestlaufUnder85})
    set(button, 326, 422);
  set(Ok, 328, 0);
  set(btnAbbrechen, 330, 0);
}

// ---------------------------------------------------------------- programs and files

vcl::TEdit* TfrmConfig::ProgramField(ProgramEvent event) const {
  switch (event) {
    case ProgramEvent::DcLow:
      return edDC_LOW;
    case ProgramEvent::Alarm:
      return edAlarm;
    case ProgramEvent::NoConnect:
      return edNoConnect;
    case ProgramEvent::Akku:
      return edAkku;
    case ProgramEvent::Over85:
      return edOver85;
    case ProgramEvent::Under85:
      break;
  }
  return edUnder85;
}

void TfrmConfig::ShowInformation(const std::string& text) const {
  platform::messageBoxes().Show(text, vcl::Application().Title(),
                                platform::kMbOk | platform::kMbIconInformation);
}

void TfrmConfig::ShowPageOf(vcl::TControl* control) {
  for (vcl::TControl* at = control; at; at = at->Parent()) {
    if (auto* page = dynamic_cast<vcl::TTabSheet*>(at)) {
      if (page->PageControl())
        page->PageControl()->SetActivePage(page);
    }
  }
}

bool TfrmConfig::ValidateProgramEdit(vcl::TEdit* field) {
  if (IsExecutablePath(field->Text()))
    return true;
  ShowInformation(GetLangString(340) + "\r\n" + field->Text());
  // The field may be on a page the user is not looking at.
  ShowPageOf(field);
  field->SetFocus();
  return false;
}

std::optional<std::string> TfrmConfig::BrowseForFile(const std::string& fileName,
                                                     const std::string& filter) {
  OpenDialog->InitialDir = DriveRootOf(platform::files().ExecutablePath());
  OpenDialog->FileName = fileName;
  OpenDialog->Filter = filter;
  if (!OpenDialog->Execute())
    return std::nullopt;
  return OpenDialog->FileName;
}

void TfrmConfig::BrowseProgram(vcl::TEdit* field) {
  const std::optional<std::string> chosen = BrowseForFile("", "");
  if (!chosen)
    return;
  if (chosen->empty() || !IsExecutablePath(*chosen)) {
    ShowInformation(GetLangString(340) + "\r\n" + *chosen);
    return;
  }
  field->SetText(*chosen);
}

void TfrmConfig::btnHistpathClick(vcl::TObject*) {
  const std::optional<std::string> chosen = BrowseForFile(kLogFileName, kLogFileFilter);
  if (!chosen)
    return;
  if (chosen->empty()) {
    ShowInformation(GetLangString(340) + "\r\n");
    return;
  }
  edHistpath->SetText(*chosen);
}

void TfrmConfig::TestRunProgram(const std::string& commandLine) {
  if (Trimmed(commandLine).empty())
    return;
  if (!IsExecutablePath(commandLine)) {
    ShowInformation(GetLangString(340) + "\r\n" + commandLine);
    return;
  }
  RunProgram(commandLine);
}

// ---------------------------------------------------------------- switches and fields

void TfrmConfig::NoteChange() {
  modified_ = true;
  PublishSwitches();
}

void TfrmConfig::StartSwitchClick(vcl::TCheckBox* box, vcl::TEdit* field) {
  if (Trimmed(field->Text()).empty())
    box->SetChecked(false);
  NoteChange();
}

void TfrmConfig::cbDC_LOShutDownClick(vcl::TObject*) {
  if (!cbDC_LOShutDown->Checked())
    cbShutdown->SetChecked(false);
  cbShutdown->SetEnabled(cbDC_LOShutDown->Checked());
  edSDRepeat->SetEnabled(cbShutdown->Checked());
  udSDRepeat->SetEnabled(cbShutdown->Checked());
  NoteChange();
}

void TfrmConfig::cbShutdownClick(vcl::TObject*) {
  edSDRepeat->SetEnabled(cbShutdown->Checked());
  udSDRepeat->SetEnabled(cbShutdown->Checked());
  NoteChange();
}

void TfrmConfig::cbOpenClick(vcl::TObject*) {
  NoteChange();
}

void TfrmConfig::cbMusicClick(vcl::TObject*) {
  NoteChange();
}

void TfrmConfig::chkWinShutdownClick(vcl::TObject*) {
  NoteChange();
}

void TfrmConfig::udMinChanging(vcl::TObject*, bool&) {
  modified_ = true;
}

void TfrmConfig::ValueChange(vcl::TObject* sender) {
  modified_ = true;
  auto* field = dynamic_cast<vcl::TEdit*>(sender);
  if (field && !dynamic_cast<vcl::TMaskEdit*>(field) && Trimmed(field->Text()).empty()) {
    const std::pair<vcl::TEdit*, vcl::TCheckBox*> switches[] = {
        {edDC_LOW, cbDC_LOWStart}, {edAlarm, cbAlarmStart},   {edNoConnect, cbNoConnectStart},
        {edAkku, cbAkkuStart},     {edOver85, cbOver85start}, {edUnder85, cbUnder85start}};
    for (const auto& [program, box] : switches) {
      if (program == field)
        box->SetChecked(false);
    }
  }
  PublishSwitches();
}

void TfrmConfig::cbWriteProtectMouseDown(vcl::TObject*, vcl::TMouseButton, vcl::TShiftState, int x,
                                         int) {
  if (x < kCheckSquareWidth) {
    cbWriteProtect->SetChecked(!cbWriteProtect->Checked());
    modified_ = true;
  }
  // Away from the box, so that the press does not toggle it once more.
  Ok->SetFocus();
}

void TfrmConfig::cboxCOMChange(vcl::TObject*) {
  TfrmKorvamon* main = frmKorvamon;
  if (!main) {
    NoteChange();
    return;
  }
  vcl::TTimer* watchdog = main->TimerConnection;
  const uint32_t interval = watchdog->Interval();
  watchdog->SetEnabled(false);
  watchdog->SetInterval(0);
  if (main->SComm->Active())
    main->CloseSerialLink();
  main->CloseUsbLink();
  main->WatchdogTicks = 1;
  main->LinkUp = false;

  const int index = cboxCOM->ItemIndex();
  if (index < 0) {
    ShowInformation(GetLangString(348));
    NoteChange();
    return;
  }
  try {
    if (index == 0) {
      main->OpenUsbLink();
      chkWinShutdown->SetEnabled(true);
      main->SComm->SetCOMPort(0);
    } else {
      chkWinShutdown->SetEnabled(false);
      main->SComm->SetCOMPort(index);
      main->OpenSerialLink(index);
    }
  } catch (const std::exception& error) {
    // A port that no link can open: said at once, and the watchdog goes on.
    vcl::Application().HandleException(error);
  }
  watchdog->SetInterval(interval != 0 ? interval : kWatchdogMs);
  watchdog->SetEnabled(true);
  NoteChange();
}

// ---------------------------------------------------------------- the reactions' switches

ReactionSwitches TfrmConfig::Switches() const {
  ReactionSwitches switches;
  const std::pair<ProgramEvent, vcl::TCheckBox*> starts[] = {
      {ProgramEvent::DcLow, cbDC_LOWStart},        {ProgramEvent::Alarm, cbAlarmStart},
      {ProgramEvent::NoConnect, cbNoConnectStart}, {ProgramEvent::Akku, cbAkkuStart},
      {ProgramEvent::Over85, cbOver85start},       {ProgramEvent::Under85, cbUnder85start}};
  for (const auto& [event, box] : starts)
    switches.startProgram.at(static_cast<size_t>(event)) = box->Checked();
  const std::pair<OpenEvent, vcl::TCheckBox*> opens[] = {{OpenEvent::Batt, cbOpen_DC_LOW},
                                                         {OpenEvent::Alarm, cbOpen_Alarm},
                                                         {OpenEvent::Akku, cbOpen_Akku},
                                                         {OpenEvent::NoConn, cbOpen_NoConn},
                                                         {OpenEvent::Full, cbOpen_Under85}};
  for (const auto& [event, box] : opens)
    switches.openWindow.at(static_cast<size_t>(event)) = box->Checked();
  switches.shutdownAfterBattery = cbDC_LOShutDown->Checked();
  switches.playSound = cbMusic->Checked();
  switches.windowsShutdownSignal = chkWinShutdown->Checked();
  switches.shutdownRepeat = udSDRepeat->Position();
  switches.batteryProgram = edDC_LOW->Text();
  return switches;
}

void TfrmConfig::PublishSwitches() const {
  PublishReactionSwitches(Switches());
}

}  // namespace monitor
