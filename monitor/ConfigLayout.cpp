// The settings dialog's controls, built once in its constructor: 646 x 355
// client pixels with the port choice on top, six pages in the middle and the
// write protection, Ok and Cancel at the bottom. Captions and hints come from
// the language library later (ApplyLanguage); the window starts locked.
#include "monitor/config.h"

#include <tuple>

namespace monitor {
namespace {

using vcl::Place;

vcl::TTabSheet* Page(vcl::TComponent* owner, vcl::TPageControl* pages, const char* name) {
  auto* page = new vcl::TTabSheet(owner);
  page->SetName(name);
  page->SetPageControl(pages);
  return page;
}

vcl::TLabel* Heading(vcl::TComponent* owner, vcl::TWinControl* parent, const char* name, int top) {
  auto* label = Place<vcl::TLabel>(owner, parent, name, 10, top, 590, 14);
  vcl::TFont font = label->Font();
  font.Style = vcl::fsBold;
  label->SetFont(font);
  return label;
}

vcl::TLabel* Unit(vcl::TComponent* owner, vcl::TWinControl* parent, int left, int top,
                  const char* text) {
  auto* label = Place<vcl::TLabel>(owner, parent, "", left, top + 3, 22, 14);
  label->SetCaption(text);
  return label;
}

vcl::TUpDown* Arrows(vcl::TComponent* owner, vcl::TWinControl* parent, const char* name,
                     vcl::TEdit* field, int max, bool wrap) {
  auto* arrows = Place<vcl::TUpDown>(owner, parent, name, field->Left() + field->Width(),
                                     field->Top(), 16, 21);
  arrows->SetRange(0, max);
  arrows->Wrap = wrap;
  arrows->SetAssociate(field);
  return arrows;
}

// A field of up to three digits that only its arrows change, blanks before the digits.
vcl::TMaskEdit* NumberField(vcl::TComponent* owner, vcl::TWinControl* parent, const char* name,
                            int left, int top) {
  auto* field = Place<vcl::TMaskEdit>(owner, parent, name, left, top, 30, 21);
  field->SetEditMask("!999;1; ");
  field->SetReadOnly(true);
  return field;
}

struct DelayNames {
  const char* minutes;
  const char* upMinutes;
  const char* seconds;
  const char* upSeconds;
};

struct DelayFields {
  vcl::TEdit* minutes;
  vcl::TUpDown* upMinutes;
  vcl::TMaskEdit* seconds;
  vcl::TUpDown* upSeconds;

  // For std::tie into the dialog's four named fields.
  std::tuple<vcl::TEdit*, vcl::TUpDown*, vcl::TMaskEdit*, vcl::TUpDown*> Fields() const {
    return {minutes, upMinutes, seconds, upSeconds};
  }
};

// Minutes from 0 to 120 that stop at the ends, seconds from 0 to 59 that go round.
DelayFields Delay(vcl::TComponent* owner, vcl::TWinControl* parent, const DelayNames& names,
                  int top) {
  constexpr int kLeft = 300;
  DelayFields fields{};
  fields.minutes = Place<vcl::TEdit>(owner, parent, names.minutes, kLeft, top, 36, 21);
  fields.minutes->SetReadOnly(true);
  fields.upMinutes = Arrows(owner, parent, names.upMinutes, fields.minutes, 120, false);
  Unit(owner, parent, kLeft + 56, top, "min");
  fields.seconds = NumberField(owner, parent, names.seconds, kLeft + 84, top);
  fields.upSeconds = Arrows(owner, parent, names.upSeconds, fields.seconds, 59, true);
  Unit(owner, parent, kLeft + 134, top, "sec");
  return fields;
}

vcl::TCheckBox* Box(vcl::TComponent* owner, vcl::TWinControl* parent, const char* name, int left,
                    int top, int width) {
  return Place<vcl::TCheckBox>(owner, parent, name, left, top + 2, width, 17);
}

vcl::TButton* Button(vcl::TComponent* owner, vcl::TWinControl* parent, const char* name, int left,
                     int top) {
  return Place<vcl::TButton>(owner, parent, name, left, top - 2, 84, 25);
}

// A battery standing upright, filled up to `level` percent in `fill`.
vcl::TBitmap ChargePicture(int level, vcl::TColor fill) {
  constexpr int kSide = 28;
  vcl::TBitmap picture(kSide, kSide, vcl::clWhite);  // white: the see-through colour
  const int left = 8, right = 19, top = 4, bottom = 26;
  for (int x = 11; x <= 16; ++x) {
    for (int y = 1; y < top; ++y)
      picture.SetPixel(x, y, vcl::clBlack);
  }
  const int fillTop = bottom - 1 - (bottom - top - 2) * level / 100;
  for (int y = top; y <= bottom; ++y) {
    for (int x = left; x <= right; ++x) {
      const bool edge = x == left || x == right || y == top || y == bottom;
      if (edge) {
        picture.SetPixel(x, y, vcl::clBlack);
      } else {
        picture.SetPixel(x, y, y >= fillTop ? fill : vcl::clSilver);
      }
    }
  }
  return picture;
}

}  // namespace

void TfrmConfig::BuildLayout() {
  SetName("frmConfig");
  BorderStyle = vcl::bsDialog;
  BorderIcons = vcl::biSystemMenu;
  Position = vcl::poMainFormCenter;
  SetClientWidth(646);
  SetClientHeight(355);

  pnlTop = Place<vcl::TPanel>(this, this, "pnlTop", 0, 0, 646, 40);
  pnlTop->BevelOuter = vcl::bvNone;
  lblCOM = Place<vcl::TLabel>(this, pnlTop, "lblCOM", 12, 14, 150, 14);
  cboxCOM = Place<vcl::TComboBox>(this, pnlTop, "cboxCOM", 170, 10, 110, 21);

  PageControl1 = Place<vcl::TPageControl>(this, this, "PageControl1", 8, 42, 630, 264);

  // General.
  TS_Allgemein = Page(this, PageControl1, "TS_Allgemein");
  gbAction = Place<vcl::TGroupBox>(this, TS_Allgemein, "gbAction", 8, 6, 604, 66);
  lab_Allgemein = Heading(this, gbAction, "lab_Allgemein", 18);
  cbMusic = Box(this, gbAction, "cbMusic", 12, 38, 580);
  cbOpen = Box(this, gbAction, "cbOpen", 12, 38, 260);
  const DelayFields general =
      Delay(this, gbAction, {"edOpenmin", "udOpenmin", "edOpensec", "udOpensec"}, 38);
  std::tie(edOpenmin, udOpenmin, edOpensec, udOpensec) = general.Fields();
  for (vcl::TControl* hidden : gbAction->ControlList()) {
    if (hidden != lab_Allgemein && hidden != cbMusic)
      hidden->SetVisible(false);
  }
  gbWinShutdown = Place<vcl::TGroupBox>(this, TS_Allgemein, "gbWinShutdown", 8, 78, 604, 72);
  chkWinShutdown = Box(this, gbWinShutdown, "chkWinShutdown", 12, 16, 580);
  lblWinShutdown = Place<vcl::TLabel>(this, gbWinShutdown, "lblWinShutdown", 30, 40, 564, 28);
  lblWinShutdown->WordWrap = true;
  lblWinShutdown->AutoSize = false;
  gbHistpath = Place<vcl::TGroupBox>(this, TS_Allgemein, "gbHistpath", 8, 156, 604, 70);
  lab_Histpath = Place<vcl::TLabel>(this, gbHistpath, "lab_Histpath", 12, 18, 300, 14);
  edHistpath = Place<vcl::TEdit>(this, gbHistpath, "edHistpath", 12, 38, 488, 21);
  btnHistpath = Button(this, gbHistpath, "btnHistpath", 508, 38);

  // Battery operation.
  TS_Pufferbetrieb = Page(this, PageControl1, "TS_Pufferbetrieb");
  lab_Pufferbetrieb = Heading(this, TS_Pufferbetrieb, "lab_Pufferbetrieb", 8);
  gbDC_LOW = Place<vcl::TGroupBox>(this, TS_Pufferbetrieb, "gbDC_LOW", 8, 28, 604, 198);
  edDC_LOW = Place<vcl::TEdit>(this, gbDC_LOW, "edDC_LOW", 12, 22, 396, 21);
  btnDC_LOW = Button(this, gbDC_LOW, "btnDC_LOW", 416, 22);
  btnTestlauf = Button(this, gbDC_LOW, "btnTestlauf", 508, 22);
  cbDC_LOWStart = Box(this, gbDC_LOW, "cbDC_LOWStart", 12, 56, 280);
  const DelayFields start =
      Delay(this, gbDC_LOW, {"edStartMin", "udStartMin", "edStartSec", "udStartSec"}, 56);
  std::tie(edStartMin, udStartMin, edStartSec, udStartSec) = start.Fields();
  cbDC_LOShutDown = Box(this, gbDC_LOW, "cbDC_LOShutDown", 12, 86, 280);
  const DelayFields shutdown = Delay(this, gbDC_LOW, {"edSDMin", "udMin", "edSDSec", "udSec"}, 86);
  std::tie(edSDMin, udMin, edSDSec, udSec) = shutdown.Fields();
  cbShutdown = Box(this, gbDC_LOW, "cbShutdown", 30, 116, 400);
  lblSDmal = Place<vcl::TLabel>(this, gbDC_LOW, "lblSDmal", 440, 121, 110, 14);
  edSDRepeat = NumberField(this, gbDC_LOW, "edSDRepeat", 552, 118);
  udSDRepeat = Arrows(this, gbDC_LOW, "udSDRepeat", edSDRepeat, 30, true);
  udSDRepeat->SetPosition(1);
  cbOpen_DC_LOW = Box(this, gbDC_LOW, "cbOpen_DC_LOW", 12, 156, 280);
  const DelayFields openDcLow =
      Delay(this, gbDC_LOW,
            {"edOpenmin_DC_LOW", "udOpenmin_DC_LOW", "edOpensec_DC_LOW", "udOpensec_DC_LOW"}, 156);
  std::tie(edOpenmin_DC_LOW, udOpenmin_DC_LOW, edOpensec_DC_LOW, udOpensec_DC_LOW) =
      openDcLow.Fields();

  // One event with its program and its window-open row (alarm, link lost,
  // battery replacement).
  struct EventPage {
    vcl::TEdit*& program;
    vcl::TButton*& browse;
    vcl::TButton*& test;
    vcl::TCheckBox*& start;
    vcl::TCheckBox*& open;
  };
  auto eventPage = [this](vcl::TGroupBox* group, const EventPage& page, const char* names[5],
                          const DelayNames& delay, const DelayNames& openDelay) {
    page.program = Place<vcl::TEdit>(this, group, names[0], 12, 22, 396, 21);
    page.browse = Button(this, group, names[1], 416, 22);
    page.test = Button(this, group, names[2], 508, 22);
    page.start = Box(this, group, names[3], 12, 56, 280);
    const DelayFields startDelay = Delay(this, group, delay, 56);
    page.open = Box(this, group, names[4], 12, 96, 280);
    const DelayFields openFields = Delay(this, group, openDelay, 96);
    return std::pair{startDelay, openFields};
  };

  TS_Pufferbereitschaft = Page(this, PageControl1, "TS_Pufferbereitschaft");
  lab_Pufferbereitschaft = Heading(this, TS_Pufferbereitschaft, "lab_Pufferbereitschaft", 8);
  gbAlarm = Place<vcl::TGroupBox>(this, TS_Pufferbereitschaft, "gbAlarm", 8, 28, 604, 140);
  {
    const char* names[5] = {"edAlarm", "btnAlarm", "btnTestlaufAlarm", "cbAlarmStart",
                            "cbOpen_Alarm"};
    const auto [delay, open] =
        eventPage(gbAlarm, {edAlarm, btnAlarm, btnTestlaufAlarm, cbAlarmStart, cbOpen_Alarm}, names,
                  {"edAlarmMin", "udAlarmMin", "edAlarmSec", "udAlarmSec"},
                  {"edOpenmin_Alarm", "udOpenmin_Alarm", "edOpensec_Alarm", "udOpensec_Alarm"});
    std::tie(edAlarmMin, udAlarmMin, edAlarmSec, udAlarmSec) = delay.Fields();
    std::tie(edOpenmin_Alarm, udOpenmin_Alarm, edOpensec_Alarm, udOpensec_Alarm) = open.Fields();
  }

  TS_Verbindung = Page(this, PageControl1, "TS_Verbindung");
  lab_Verbindung = Heading(this, TS_Verbindung, "lab_Verbindung", 8);
  gbNoConect = Place<vcl::TGroupBox>(this, TS_Verbindung, "gbNoConect", 8, 28, 604, 140);
  {
    const char* names[5] = {"edNoConnect", "btnNoConnect", "btnTestlaufNOC", "cbNoConnectStart",
                            "cbOpen_NoConn"};
    const auto [delay, open] = eventPage(
        gbNoConect, {edNoConnect, btnNoConnect, btnTestlaufNOC, cbNoConnectStart, cbOpen_NoConn},
        names, {"edVbMin", "udVbMin", "edVbSec", "udVbSec"},
        {"edOpenmin_NoConn", "udOpenmin_NoConn", "edOpensec_NoConn", "udOpensec_NoConn"});
    std::tie(edVbMin, udVbMin, edVbSec, udVbSec) = delay.Fields();
    std::tie(edOpenmin_NoConn, udOpenmin_NoConn, edOpensec_NoConn, udOpensec_NoConn) =
        open.Fields();
  }

  TS_Akkutausch = Page(this, PageControl1, "TS_Akkutausch");
  lab_Akkutausch = Heading(this, TS_Akkutausch, "lab_Akkutausch", 8);
  gbAkku = Place<vcl::TGroupBox>(this, TS_Akkutausch, "gbAkku", 8, 28, 604, 140);
  {
    const char* names[5] = {"edAkku", "btnAkku", "btnTestlaufAKKU", "cbAkkuStart", "cbOpen_Akku"};
    const auto [delay, open] =
        eventPage(gbAkku, {edAkku, btnAkku, btnTestlaufAKKU, cbAkkuStart, cbOpen_Akku}, names,
                  {"edAkkuMin", "udAkkuMin", "edAkkuSec", "udAkkuSec"},
                  {"edOpenmin_Akku", "udOpenmin_Akku", "edOpenSec_Akku", "udOpenSec_Akku"});
    std::tie(edAkkuMin, udAkkuMin, edAkkuSec, udAkkuSec) = delay.Fields();
    std::tie(edOpenmin_Akku, udOpenmin_Akku, edOpenSec_Akku, udOpenSec_Akku) = open.Fields();
  }

  // Charge level: a program for each direction, one window-open row.
  TS_Ladezustand = Page(this, PageControl1, "TS_Ladezustand");
  lab_Ladezustand = Heading(this, TS_Ladezustand, "lab_Ladezustand", 8);
  gbOn85 = Place<vcl::TGroupBox>(this, TS_Ladezustand, "gbOn85", 8, 28, 604, 198);
  imgOver85 = Place<vcl::TImage>(this, gbOn85, "imgOver85", 12, 18, 28, 28);
  imgOver85->SetPicture(ChargePicture(90, vcl::clGreen));
  imgOver85->SetTransparent(true);
  edOver85 = Place<vcl::TEdit>(this, gbOn85, "edOver85", 48, 22, 360, 21);
  btnOver85 = Button(this, gbOn85, "btnOver85", 416, 22);
  btnTestlaufOver85 = Button(this, gbOn85, "btnTestlaufOver85", 508, 22);
  cbOver85start = Box(this, gbOn85, "cbOver85start", 48, 52, 244);
  const DelayFields over =
      Delay(this, gbOn85, {"edOver85Min", "udOver85Min", "edOver85Sec", "udOver85Sec"}, 52);
  std::tie(edOver85Min, udOver85Min, edOver85Sec, udOver85Sec) = over.Fields();
  imgUnder85 = Place<vcl::TImage>(this, gbOn85, "imgUnder85", 12, 84, 28, 28);
  imgUnder85->SetPicture(ChargePicture(30, vcl::clMaroon));
  imgUnder85->SetTransparent(true);
  edUnder85 = Place<vcl::TEdit>(this, gbOn85, "edUnder85", 48, 88, 360, 21);
  btnUnder85 = Button(this, gbOn85, "btnUnder85", 416, 88);
  btnTestlaufUnder85 = Button(this, gbOn85, "btnTestlaufUnder85", 508, 88);
  cbUnder85start = Box(this, gbOn85, "cbUnder85start", 48, 118, 244);
  const DelayFields under =
      Delay(this, gbOn85, {"edUnder85Min", "udUnder85Min", "edUnder85Sec", "udUnder85Sec"}, 118);
  std::tie(edUnder85Min, udUnder85Min, edUnder85Sec, udUnder85Sec) = under.Fields();
  cbOpen_Under85 = Box(this, gbOn85, "cbOpen_Under85", 12, 158, 280);
  const DelayFields openCharge = Delay(
      this, gbOn85,
      {"edOpenmin_Under85", "udOpenmin_Under85", "edOpensec_Under85", "udOpensec_Under85"}, 158);
  std::tie(edOpenmin_Under85, udOpenmin_Under85, edOpensec_Under85, udOpensec_Under85) =
      openCharge.Fields();

  // The bottom row: the write protection (the box, or the red note while
  // locked), Ok and Cancel.
  pnlWP = Place<vcl::TPanel>(this, this, "pnlWP", 8, 312, 424, 34);
  pnlWP->BevelOuter = vcl::bvLowered;
  vcl::TFont warning = pnlWP->Font();
  warning.Color = vcl::clRed;
  warning.Style = vcl::fsBold;
  pnlWP->SetFont(warning);
  cbWriteProtect = Place<vcl::TCheckBox>(this, this, "cbWriteProtect", 12, 320, 400, 17);
  Ok = Place<vcl::TButton>(this, this, "Ok", 440, 314, 96, 30);
  btnAbbrechen = Place<vcl::TButton>(this, this, "btnAbbrechen", 542, 314, 96, 30);
  btnAbbrechen->Cancel = true;
  for (vcl::TButton* button : {Ok, btnAbbrechen}) {
    vcl::TFont bold = button->Font();
    bold.Style = vcl::fsBold;
    button->SetFont(bold);
  }

  OpenDialog = new vcl::TOpenDialog(this);
  OpenDialog->SetName("OpenDialog");
}

}  // namespace monitor
