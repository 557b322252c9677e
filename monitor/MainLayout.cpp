// The main window's controls, menu and timers, built once in its constructor:
// a fixed dialog of 546 x 293 client pixels with the device line, the LED
// field, the link line, the four buttons, the received-text line and the
// status bar.
#include "monitor/LedStrip.h"
#include "monitor/main.h"

namespace monitor {
namespace {

using vcl::Place;

vcl::TPanel* Frame(vcl::TComponent* owner, vcl::TWinControl* parent, const char* name, int left,
                   int top, int width, int height, vcl::TBevelCut bevel) {
  auto* panel = Place<vcl::TPanel>(owner, parent, name, left, top, width, height);
  panel->BevelOuter = bevel;
  return panel;
}

vcl::TLabel* LabelAt(vcl::TComponent* owner, vcl::TWinControl* parent, const char* name, int left,
                     int top, int width, const std::string& caption) {
  auto* label = Place<vcl::TLabel>(owner, parent, name, left, top, width, 14);
  label->SetCaption(caption);
  return label;
}

TIndexImage* Led(vcl::TComponent* owner, vcl::TWinControl* parent, const char* name, int left,
                 int top) {
  auto* led = Place<TIndexImage>(owner, parent, name, left, top, kLedSide, kLedSide);
  led->SetTransparent(true);
  led->SetBigPicture(LedStrip());
  return led;
}

vcl::TMenuItem* MenuItem(vcl::TComponent* owner, vcl::TPopupMenu* menu, const char* name,
                         const std::string& caption) {
  auto* item = new vcl::TMenuItem(owner);
  item->SetName(name);
  item->Caption = caption;
  menu->Items()->Add(item);
  return item;
}

constexpr int kButtonTop = 186;
constexpr int kButtonWidth = 120;

}  // namespace

void TfrmKorvamon::BuildLayout() {
  SetName("frmKorvamon");
  SetCaption("korvamon");
  BorderStyle = vcl::bsDialog;
  BorderIcons = 0;
  Position = vcl::poScreenCenter;
  KeyPreview = true;
  SetClientWidth(546);
  SetClientHeight(293);

  pnlDevice = Frame(this, this, "pnlDevice", 12, 6, 522, 30, vcl::bvLowered);
  lblText47 = LabelAt(this, pnlDevice, "lblText47", 10, 8, 120, "Device:");
  lblDevice = LabelAt(this, pnlDevice, "lblDevice", 140, 8, 370, "");
  vcl::TFont deviceFont = lblDevice->Font();
  deviceFont.Style = vcl::fsBold;
  deviceFont.Color = 8388672;
  lblDevice->SetFont(deviceFont);

  // The LED field: short fixed names and the LEDs on the left, the
  // condition texts on the right, all under one mask until text arrives.
  pnlLEDs = Frame(this, this, "pnlLEDs", 12, 42, 522, 98, vcl::bvNone);
  pnlLEDfeld_S = Frame(this, pnlLEDs, "pnlLEDfeld_S", 0, 0, 130, 98, vcl::bvLowered);
  pnlLEDfeld_B = Frame(this, pnlLEDs, "pnlLEDfeld_B", 134, 0, 388, 98, vcl::bvLowered);
  const int rows[] = {12, 33, 54, 75};
  Label4 = LabelAt(this, pnlLEDs, "Label4", 14, rows[0] + 2, 60, "o.k.");
  Label9 = LabelAt(this, pnlLEDs, "Label9", 14, rows[1] + 2, 60, "Bat");
  Label10 = LabelAt(this, pnlLEDs, "Label10", 14, rows[2] + 2, 60, "Alarm");
  labVoll = LabelAt(this, pnlLEDs, "labVoll", 14, rows[3] + 2, 60, "Ba>85");
  LED_OK = Led(this, pnlLEDs, "LED_OK", 96, rows[0]);
  LED_BAT = Led(this, pnlLEDs, "LED_BAT", 96, rows[1]);
  LED_ALARM = Led(this, pnlLEDs, "LED_ALARM", 96, rows[2]);
  LED_FULL = Led(this, pnlLEDs, "LED_FULL", 96, rows[3]);
  labOK = LabelAt(this, pnlLEDs, "labOK", 146, rows[0] + 2, 364, "DC input");
  labBAT = LabelAt(this, pnlLEDs, "labBAT", 146, rows[1] + 2, 364, "No battery operation");
  labAlarm = LabelAt(this, pnlLEDs, "labAlarm", 146, rows[2] + 2, 364, "Buffer ready");
  labFull = LabelAt(this, pnlLEDs, "labFull", 146, rows[3] + 2, 364, "Battery charge above 85 %");
  pnlMask = Frame(this, pnlLEDs, "pnlMask", 0, 0, 522, 98, vcl::bvNone);

  pnlConnect = Frame(this, this, "pnlConnect", 12, 146, 522, 30, vcl::bvLowered);
  LED_Connection = Led(this, pnlConnect, "LED_Connection", 10, 6);
  lblSeriell = LabelAt(this, pnlConnect, "lblSeriell", 36, 8, 476, "");

  btnKonfig = Place<vcl::TButton>(this, this, "btnKonfig", 12, kButtonTop, kButtonWidth, 25);
  btnKonfig->SetCaption("&Settings");
  btnKonfig->OnClick = [this](vcl::TObject* sender) { btnKonfigClick(sender); };
  btnHistory = Place<vcl::TButton>(this, this, "btnHistory", 146, kButtonTop, kButtonWidth, 25);
  btnHistory->SetCaption("&History");
  btnHistory->OnClick = [this](vcl::TObject* sender) { btnHistoryClick(sender); };
  btnUpDown = Place<vcl::TSpeedButton>(this, this, "btnUpDown", 280, kButtonTop, kButtonWidth, 25);
  btnUpDown->SetCaption("&Data");
  btnUpDown->GroupIndex = 1;
  btnUpDown->AllowAllUp = true;
  btnUpDown->OnClick = [this](vcl::TObject* sender) { btnUpDownClick(sender); };
  btnHide = Place<vcl::TButton>(this, this, "btnHide", 414, kButtonTop, kButtonWidth, 25);
  btnHide->SetCaption("&Close");
  btnHide->OnClick = [this](vcl::TObject* sender) { btnHideClick(sender); };
  for (vcl::TControl* button :
       {static_cast<vcl::TControl*>(btnKonfig), static_cast<vcl::TControl*>(btnHistory),
        static_cast<vcl::TControl*>(btnUpDown), static_cast<vcl::TControl*>(btnHide)}) {
    button->SetShowHint(true);
  }

  // Below the buttons, hidden under the status bar until the window grows.
  pnlHGtext = Frame(this, this, "pnlHGtext", 12, 236, 522, 46, vcl::bvLowered);
  lblExtended = LabelAt(this, pnlHGtext, "lblExtended", 8, 4, 300, "Received:");
  edRead = Place<vcl::TEdit>(this, pnlHGtext, "edRead", 8, 19, 506, 22);
  edRead->SetReadOnly(true);
  edRead->SetColor(vcl::clYellow);
  vcl::TFont readFont;
  readFont.Name = "Courier New";
  readFont.Height = -13;
  readFont.Color = vcl::clNavy;
  readFont.Style = vcl::fsBold;
  edRead->SetFont(readFont);
  edRead->SetText("*****..ALARM..DC_OK..");

  StatBar = new vcl::TStatusBar(this);
  StatBar->SetName("StatBar");
  StatBar->SetHeight(19);
  StatBar->SetAlign(vcl::alBottom);
  StatBar->SetParent(this);
  StatBar->Panels().Add().SetWidth(360);

  MZHint = new THHint(this);
  MZHint->SetName("MZHint");

  // Visible by its layout: the window shows as soon as it is created.
  SetVisible(true);
}

void TfrmKorvamon::BuildMenu() {
  PopupMenu = new vcl::TPopupMenu(this);
  PopupMenu->SetName("PopupMenu");
  mnuCaption = MenuItem(this, PopupMenu, "mnuCaption", "Notes");
  mnuCaption->OnClick = [this](vcl::TObject* sender) { mnuCaptionClick(sender); };
  N1 = MenuItem(this, PopupMenu, "N1", "-");
  mnuShow = MenuItem(this, PopupMenu, "mnuShow", "Show");
  mnuShow->OnClick = [this](vcl::TObject* sender) { mnuShowClick(sender); };
  mnuKonfig = MenuItem(this, PopupMenu, "mnuKonfig", "Settings");
  mnuKonfig->OnClick = [this](vcl::TObject* sender) { mnuKonfigClick(sender); };
  mnuProtokoll = MenuItem(this, PopupMenu, "mnuProtokoll", "History");
  mnuProtokoll->OnClick = [this](vcl::TObject* sender) { mnuProtokollClick(sender); };
  mnuInfo = MenuItem(this, PopupMenu, "mnuInfo", "Info");
  mnuInfo->OnClick = [this](vcl::TObject* sender) { mnuInfoClick(sender); };
  N2 = MenuItem(this, PopupMenu, "N2", "-");
  mnuBeenden = MenuItem(this, PopupMenu, "mnuBeenden", "Exit");
  mnuBeenden->OnClick = [this](vcl::TObject* sender) { mnuBeendenClick(sender); };

  TrayIcon = new vcl::TTrayIcon(this);
  TrayIcon->SetName("TrayIcon");
  TrayIcon->ID = kTrayIconId;
  TrayIcon->CallbackMessage = WM_TRAYICON;
  TrayIcon->Image = vcl::TTrayIconImage::Main;
}

void TfrmKorvamon::BuildTimers() {
  auto timer = [this](const char* name, uint32_t interval,
                      void (TfrmKorvamon::*handler)(vcl::TObject*)) {
    auto* made = new vcl::TTimer(this);
    made->SetName(name);
    made->SetEnabled(false);
    made->SetInterval(interval);
    made->SetOnTimer([this, handler](vcl::TObject* sender) { (this->*handler)(sender); });
    return made;
  };
  TimerConnection = timer("TimerConnection", 1000, &TfrmKorvamon::TimerConnectionTimer);
  MessTimer = timer("MessTimer", 100, &TfrmKorvamon::MessTimerTimer);
  TimerOpen = timer("TimerOpen", 200, &TfrmKorvamon::TimerOpenTimer);
  TimerAppStart = timer("TimerAppStart", 1000, &TfrmKorvamon::TimerAppStartTimer);
  TimerShutDown = timer("TimerShutDown", 1000, &TfrmKorvamon::TimerShutDownTimer);
  TimerVerbindung = timer("TimerVerbindung", 1000, &TfrmKorvamon::TimerVerbindungTimer);
  TimerAlarm = timer("TimerAlarm", 1000, &TfrmKorvamon::TimerAlarmTimer);
  TimerAkku = timer("TimerAkku", 300, &TfrmKorvamon::TimerAkkuTimer);
  TimerOver85 = timer("TimerOver85", 300, &TfrmKorvamon::TimerOver85Timer);
  TimerUnder85 = timer("TimerUnder85", 300, &TfrmKorvamon::TimerUnder85Timer);
  TimerScanOPCServer = timer("TimerScanOPCServer", 10, &TfrmKorvamon::TimerScanOPCServerTimer);
}

}  // namespace monitor
