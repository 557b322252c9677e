// Unit config: korvamon's settings dialog. It shows the settings file as six
// pages of controls, checks what the user enters, writes every key when the
// user saves, can make the file read-only, and locks itself while the file is
// read-only. It is created at the start, right after the main window, lives
// until the program ends, and is shown modally from the main window's
// settings command. Its switches are what the reactions follow (unit
// ReactionSwitches), and a new port choice switches the device link at once.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "monitor/Settings.h"
#include "vcl/Buttons.h"
#include "vcl/CheckBox.h"
#include "vcl/ComboBox.h"
#include "vcl/Dialogs.h"
#include "vcl/ExtCtrls.h"
#include "vcl/Forms.h"
#include "vcl/GroupBox.h"
#include "vcl/MaskEdit.h"
#include "vcl/PageControl.h"
#include "vcl/StdCtrls.h"
#include "vcl/UpDown.h"

namespace monitor {

struct ReactionSwitches;

class TfrmConfig : public vcl::TForm {
 public:
  explicit TfrmConfig(vcl::TComponent* owner);
  ~TfrmConfig() override;

  // ---- the port choice
  vcl::TPanel* pnlTop;
  vcl::TLabel* lblCOM;
  vcl::TComboBox* cboxCOM;

  vcl::TPageControl* PageControl1;

  // ---- general
  vcl::TTabSheet* TS_Allgemein;
  vcl::TGroupBox* gbAction;
  vcl::TLabel* lab_Allgemein;
  vcl::TCheckBox* cbMusic;
  // A window-open row for every event at once, of older versions: never
  // shown, never loaded or saved.
  vcl::TCheckBox* cbOpen;
  vcl::TEdit* edOpenmin;
  vcl::TUpDown* udOpenmin;
  vcl::TMaskEdit* edOpensec;
  vcl::TUpDown* udOpensec;
  vcl::TGroupBox* gbWinShutdown;
  vcl::TCheckBox* chkWinShutdown;
  vcl::TLabel* lblWinShutdown;
  vcl::TGroupBox* gbHistpath;
  vcl::TLabel* lab_Histpath;
  vcl::TEdit* edHistpath;
  vcl::TButton* btnHistpath;

  // ---- battery operation
  vcl::TTabSheet* TS_Pufferbetrieb;
  vcl::TLabel* lab_Pufferbetrieb;
  vcl::TGroupBox* gbDC_LOW;
  vcl::TEdit* edDC_LOW;
  vcl::TButton* btnDC_LOW;
  vcl::TButton* btnTestlauf;
  vcl::TCheckBox* cbDC_LOWStart;
  vcl::TEdit* edStartMin;
  vcl::TUpDown* udStartMin;
  vcl::TMaskEdit* edStartSec;
  vcl::TUpDown* udStartSec;
  vcl::TCheckBox* cbDC_LOShutDown;
  vcl::TEdit* edSDMin;
  vcl::TUpDown* udMin;
  vcl::TMaskEdit* edSDSec;
  vcl::TUpDown* udSec;
  vcl::TCheckBox* cbShutdown;
  vcl::TLabel* lblSDmal;
  vcl::TMaskEdit* edSDRepeat;
  vcl::TUpDown* udSDRepeat;
  vcl::TCheckBox* cbOpen_DC_LOW;
  vcl::TEdit* edOpenmin_DC_LOW;
  vcl::TUpDown* udOpenmin_DC_LOW;
  vcl::TMaskEdit* edOpensec_DC_LOW;
  vcl::TUpDown* udOpensec_DC_LOW;

  // ---- buffer not ready (alarm)
  vcl::TTabSheet* TS_Pufferbereitschaft;
  vcl::TLabel* lab_Pufferbereitschaft;
  vcl::TGroupBox* gbAlarm;
  vcl::TEdit* edAlarm;
  vcl::TButton* btnAlarm;
  vcl::TButton* btnTestlaufAlarm;
  vcl::TCheckBox* cbAlarmStart;
  vcl::TEdit* edAlarmMin;
  vcl::TUpDown* udAlarmMin;
  vcl::TMaskEdit* edAlarmSec;
  vcl::TUpDown* udAlarmSec;
  vcl::TCheckBox* cbOpen_Alarm;
  vcl::TEdit* edOpenmin_Alarm;
  vcl::TUpDown* udOpenmin_Alarm;
  vcl::TMaskEdit* edOpensec_Alarm;
  vcl::TUpDown* udOpensec_Alarm;

  // ---- link lost
  vcl::TTabSheet* TS_Verbindung;
  vcl::TLabel* lab_Verbindung;
  vcl::TGroupBox* gbNoConect;
  vcl::TEdit* edNoConnect;
  vcl::TButton* btnNoConnect;
  vcl::TButton* btnTestlaufNOC;
  vcl::TCheckBox* cbNoConnectStart;
  vcl::TEdit* edVbMin;
  vcl::TUpDown* udVbMin;
  vcl::TMaskEdit* edVbSec;
  vcl::TUpDown* udVbSec;
  vcl::TCheckBox* cbOpen_NoConn;
  vcl::TEdit* edOpenmin_NoConn;
  vcl::TUpDown* udOpenmin_NoConn;
  vcl::TMaskEdit* edOpensec_NoConn;
  vcl::TUpDown* udOpensec_NoConn;

  // ---- battery replacement
  vcl::TTabSheet* TS_Akkutausch;
  vcl::TLabel* lab_Akkutausch;
  vcl::TGroupBox* gbAkku;
  vcl::TEdit* edAkku;
  vcl::TButton* btnAkku;
  vcl::TButton* btnTestlaufAKKU;
  vcl::TCheckBox* cbAkkuStart;
  vcl::TEdit* edAkkuMin;
  vcl::TUpDown* udAkkuMin;
  vcl::TMaskEdit* edAkkuSec;
  vcl::TUpDown* udAkkuSec;
  vcl::TCheckBox* cbOpen_Akku;
  vcl::TEdit* edOpenmin_Akku;
  vcl::TUpDown* udOpenmin_Akku;
  vcl::TMaskEdit* edOpenSec_Akku;
  vcl::TUpDown* udOpenSec_Akku;

  // ---- charge level
  vcl::TTabSheet* TS_Ladezustand;
  vcl::TLabel* lab_Ladezustand;
  vcl::TGroupBox* gbOn85;
  vcl::TImage* imgOver85;
  vcl::TImage* imgUnder85;
  vcl::TEdit* edOver85;
  vcl::TButton* btnOver85;
  vcl::TButton* btnTestlaufOver85;
  vcl::TCheckBox* cbOver85start;
  vcl::TEdit* edOver85Min;
  vcl::TUpDown* udOver85Min;
  vcl::TMaskEdit* edOver85Sec;
  vcl::TUpDown* udOver85Sec;
  vcl::TEdit* edUnder85;
  vcl::TButton* btnUnder85;
  vcl::TButton* btnTestlaufUnder85;
  vcl::TCheckBox* cbUnder85start;
  vcl::TEdit* edUnder85Min;
  vcl::TUpDown* udUnder85Min;
  vcl::TMaskEdit* edUnder85Sec;
  vcl::TUpDown* udUnder85Sec;
  vcl::TCheckBox* cbOpen_Under85;
  vcl::TEdit* edOpenmin_Under85;
  vcl::TUpDown* udOpenmin_Under85;
  vcl::TMaskEdit* edOpensec_Under85;
  vcl::TUpDown* udOpensec_Under85;

  // ---- the bottom row
  vcl::TPanel* pnlWP;
  vcl::TCheckBox* cbWriteProtect;
  vcl::TButton* Ok;
  vcl::TButton* btnAbbrechen;

  vcl::TOpenDialog* OpenDialog;

  // Set by the last save when the user chose the write protection for a file
  // that was writable: the main window then makes the settings file read-only.
  bool WriteProtectRequested = false;

  // The settings file, as found when the dialog was made.
  const std::string& IniFileName() const { return iniFileName_; }
  // The file was read-only (or missing) when the dialog was last shown.
  bool WriteProtected() const { return writeProtected_; }
  // Something changed since the dialog was last shown.
  bool Modified() const { return modified_; }

  // ---- window events
  void FormCreate(vcl::TObject* sender);
  void FormShow(vcl::TObject* sender);
  void FormClick(vcl::TObject* sender);

  // ---- own operations
  void LoadSettings();
  // Writes every key in one replacement of the file; EIniFileException when
  // the file refuses it (then no key is written).
  void SaveSettings();
  void ApplyLanguage();
  std::vector<vcl::TControl*> LockedControls() const;
  void LockControls();
  void UnlockControls();
  // The chosen file's full name, or nothing when the user cancelled.
  std::optional<std::string> BrowseForFile(const std::string& fileName, const std::string& filter);
  // False, after telling the user and focusing the field, when the field
  // names no program file that exists.
  bool ValidateProgramEdit(vcl::TEdit* field);
  void TestRunProgram(const std::string& commandLine);

  // ---- buttons
  void OkClick(vcl::TObject* sender);
  void btnAbbrechenClick(vcl::TObject* sender);
  void btnHistpathClick(vcl::TObject* sender);
  void btnDC_LOWClick(vcl::TObject*) { BrowseProgram(edDC_LOW); }
  void btnAlarmClick(vcl::TObject*) { BrowseProgram(edAlarm); }
  void btnNoConnectClick(vcl::TObject*) { BrowseProgram(edNoConnect); }
  void btnAkkuClick(vcl::TObject*) { BrowseProgram(edAkku); }
  void btnOver85Click(vcl::TObject*) { BrowseProgram(edOver85); }
  void btnUnder85Click(vcl::TObject*) { BrowseProgram(edUnder85); }
  void btnTestlaufClick(vcl::TObject*) { TestRunProgram(edDC_LOW->Text()); }
  void btnTestlaufAlarmClick(vcl::TObject*) { TestRunProgram(edAlarm->Text()); }
  void btnTestlaufNOCClick(vcl::TObject*) { TestRunProgram(edNoConnect->Text()); }
  void btnTestlaufAKKUClick(vcl::TObject*) { TestRunProgram(edAkku->Text()); }
  void btnTestlaufOver85Click(vcl::TObject*) { TestRunProgram(edOver85->Text()); }
  void btnTestlaufUnder85Click(vcl::TObject*) { TestRunProgram(edUnder85->Text()); }

  // ---- switches and fields
  void cbDC_LOWStartClick(vcl::TObject*) { StartSwitchClick(cbDC_LOWStart, edDC_LOW); }
  void cbAlarmStartClick(vcl::TObject*) { StartSwitchClick(cbAlarmStart, edAlarm); }
  void cbNoConnectStartClick(vcl::TObject*) { StartSwitchClick(cbNoConnectStart, edNoConnect); }
  void cbAkkuStartClick(vcl::TObject*) { StartSwitchClick(cbAkkuStart, edAkku); }
  void cbOver85startClick(vcl::TObject*) { StartSwitchClick(cbOver85start, edOver85); }
  void cbUnder85startClick(vcl::TObject*) { StartSwitchClick(cbUnder85start, edUnder85); }
  void cbDC_LOShutDownClick(vcl::TObject* sender);
  void cbShutdownClick(vcl::TObject* sender);
  void cbOpenClick(vcl::TObject* sender);
  void cbMusicClick(vcl::TObject* sender);
  void chkWinShutdownClick(vcl::TObject* sender);
  void udMinChanging(vcl::TObject* sender, bool& allowChange);
  void ValueChange(vcl::TObject* sender);
  void cbWriteProtectMouseDown(vcl::TObject* sender, vcl::TMouseButton button,
                               vcl::TShiftState shift, int x, int y);
  // A new port choice takes effect at once: the links close and the chosen
  // one opens, with the watchdog stopped meanwhile.
  void cboxCOMChange(vcl::TObject* sender);

  // What the reactions follow, as the controls hold it now.
  ReactionSwitches Switches() const;

 private:
  void BuildLayout();
  void BindEvents();
  // The charge-level page and the shutdown signal, by the frames the module sends.
  void ApplyFrameLengthRule();
  vcl::TEdit* ProgramField(ProgramEvent event) const;
  void BrowseProgram(vcl::TEdit* field);
  void StartSwitchClick(vcl::TCheckBox* box, vcl::TEdit* field);
  // Modified, and the reactions see the controls as they are now.
  void NoteChange();
  void PublishSwitches() const;
  void ShowInformation(const std::string& text) const;
  // The page that holds `control` comes to the front.
  void ShowPageOf(vcl::TControl* control);

  std::string iniFileName_;
  bool writeProtected_ = false;
  bool modified_ = false;
};

// The settings dialog while it exists.
extern TfrmConfig* frmConfig;

}  // namespace monitor
