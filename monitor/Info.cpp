#include "monitor/Info.h"

#include <optional>

#include "monitor/LedStrip.h"
#include "monitor/header.h"
#include "monitor/lang.h"
#include "platform/Files.h"
#include "platform/Services.h"
#include "platform/System.h"

namespace monitor {
namespace {

constexpr std::string_view kFileVersionKey = "FileVersion\x03";
constexpr std::string_view kCommentsKey = "Comments\x03";
constexpr uint32_t kTitleText = 30;

// `text` after the first `key`, and what follows it up to the next separator.
// Without the key, the whole text stays and the value is empty.
std::string CutValue(std::string_view& text, std::string_view key) {
  const size_t at = text.find(key);
  if (at == std::string_view::npos)
    return {};
  text.remove_prefix(at + key.size());
  return std::string(text.substr(0, text.find(kVersionSeparator)));
}

// The program's icon: a charged battery with its terminal, on ground that a
// transparent image shows through.
vcl::TBitmap BatteryIcon() {
  constexpr int kSide = 32;
  vcl::TBitmap icon(kSide, kSide, kLedGround);
  const vcl::TColor rim = 0x303030;
  for (int y = 8; y < 26; ++y) {
    for (int x = 2; x < 27; ++x) {
      const bool edge = y == 8 || y == 25 || x == 2 || x == 26;
      vcl::TColor color = vcl::clWhite;
      if (edge)
        color = rim;
      else if (x >= 4 && x < 20 && y >= 10 && y < 24)
        color = LedColor(ledGreen);
      icon.SetPixel(x, y, color);
    }
  }
  for (int y = 13; y < 21; ++y) {
    for (int x = 27; x < 30; ++x)
      icon.SetPixel(x, y, rim);
  }
  return icon;
}

}  // namespace

std::string ScanVersionResource(std::string_view block) {
  std::string text = "LM";
  const size_t size = block.size();
  size_t position = 0;
  // Every step moves on by at least one byte, so the scan ends; reading two
  // bytes only while two are left keeps it within the block.
  while (position + 1 < size) {
    const auto b0 = static_cast<unsigned char>(block[position]);
    const auto b1 = static_cast<unsigned char>(block[position + 1]);
    position += 2;
    if (b0 == 0 && b1 >= 32) {
      text += static_cast<char>(b1);
      continue;
    }
    if (b0 == 0 && b1 == 0 && text.back() != kVersionSeparator)
      text += kVersionSeparator;
    --position;
  }
  return text;
}

VersionStrings ReadVersionStrings(std::string_view block) {
  const std::string scanned = ScanVersionResource(block);
  std::string_view rest = scanned;
  VersionStrings strings;
  strings.version = CutValue(rest, kFileVersionKey);
  strings.comment = CutValue(rest, kCommentsKey);
  return strings;
}

TfrmInfo::TfrmInfo(vcl::TComponent* owner) : vcl::TForm(owner, "TfrmInfo") {
  SetCaption("Info");
  BorderStyle = vcl::bsDialog;
  BorderIcons = vcl::biSystemMenu;
  Position = vcl::poMainFormCenter;
  SetClientWidth(296);
  SetClientHeight(204);

  imgIcon = new vcl::TImage(this);
  imgIcon->SetParent(this);
  imgIcon->SetBounds(16, 16, 32, 32);
  imgIcon->SetPicture(BatteryIcon());
  imgIcon->SetTransparent(true);

  lblTitle = new vcl::TLabel(this);
  lblTitle->SetParent(this);
  lblTitle->AutoSize = false;
  lblTitle->Alignment = vcl::taCenter;
  lblTitle->SetBounds(56, 22, 224, 20);
  vcl::TFont titleFont = lblTitle->Font();
  titleFont.Style = vcl::fsBold;
  titleFont.SetSize(10);
  lblTitle->SetFont(titleFont);
  lblTitle->SetCaption("korvamon");

  Label1 = new vcl::TLabel(this);
  Label1->SetParent(this);
  Label1->SetBounds(56, 58, 10, 13);
  Label1->SetCaption("V");

  lblVersion = new vcl::TLabel(this);
  lblVersion->SetParent(this);
  lblVersion->SetBounds(70, 58, 150, 13);

  lblComment = new vcl::TLabel(this);
  lblComment->SetParent(this);
  lblComment->AutoSize = false;
  lblComment->WordWrap = true;
  lblComment->SetBounds(56, 80, 224, 28);

  imgLeds = new vcl::TImage(this);
  imgLeds->SetParent(this);
  imgLeds->SetBounds(16, 120, kLedSide * kLedCells, kLedSide);
  imgLeds->SetPicture(LedStrip());
  imgLeds->SetTransparent(true);

  lblFreeware = new vcl::TLabel(this);
  lblFreeware->SetParent(this);
  lblFreeware->SetBounds(216, 122, 48, 13);
  vcl::TFont linkFont = lblFreeware->Font();
  linkFont.Color = vcl::clBlue;
  linkFont.Style = vcl::fsUnderline;
  lblFreeware->SetFont(linkFont);
  lblFreeware->SetCaption("Freeware");

  pnlSeparator = new vcl::TPanel(this);
  pnlSeparator->SetParent(this);
  pnlSeparator->BevelOuter = vcl::bvLowered;
  pnlSeparator->SetBounds(8, 154, 280, 2);

  btnClose = new vcl::TButton(this);
  btnClose->SetParent(this);
  btnClose->SetBounds(110, 168, 75, 25);
  btnClose->SetCaption("OK");
  btnClose->Default = true;
  btnClose->Cancel = true;

  OnCreate = [this](vcl::TObject* sender) { FormCreate(sender); };
  OnDeactivate = [this](vcl::TObject* sender) { FormDeactivate(sender); };
  OnMouseMove = [this](vcl::TObject* sender, vcl::TShiftState shift, int x, int y) {
    FormMouseMove(sender, shift, x, y);
  };
  btnClose->OnClick = [this](vcl::TObject* sender) { btnCloseClick(sender); };
  lblFreeware->OnMouseMove = [this](vcl::TObject* sender, vcl::TShiftState shift, int x, int y) {
    lblFreewareMouseMove(sender, shift, x, y);
  };
  lblFreeware->OnClick = [this](vcl::TObject* sender) { lblFreewareClick(sender); };
}

void TfrmInfo::FormCreate(vcl::TObject* /*sender*/) {
  vcl::TForm* main = vcl::Application().MainForm();
  if (main && main != this)
    lblTitle->SetCaption(GetLangString(kTitleText));
  ReadVersionInfo();
}

void TfrmInfo::btnCloseClick(vcl::TObject* /*sender*/) {
  Close();
}

void TfrmInfo::FormDeactivate(vcl::TObject* /*sender*/) {
  Close();
}

void TfrmInfo::lblFreewareMouseMove(vcl::TObject* /*sender*/, vcl::TShiftState /*shift*/, int /*x*/,
                                    int /*y*/) {
  lblFreeware->SetColor(vcl::clYellow);
}

void TfrmInfo::FormMouseMove(vcl::TObject* /*sender*/, vcl::TShiftState /*shift*/, int /*x*/,
                             int /*y*/) {
  lblFreeware->SetColor(vcl::clBtnFace);
}

void TfrmInfo::lblFreewareClick(vcl::TObject* /*sender*/) {
  ShowHeaderModal(&vcl::Application());
}

void TfrmInfo::ReadVersionInfo() {
  ShowVersionResource(platform::OwnVersionResource().value_or(std::string()));
  platform::Files& files = platform::files();
  const std::optional<std::chrono::system_clock::time_point> written =
      files.LastWriteTime(files.ExecutablePath());
  fileDateText_ = written ? platform::FormatShortDate(*written) : std::string();
}

void TfrmInfo::ShowVersionResource(std::string_view block) {
  const VersionStrings strings = ReadVersionStrings(block);
  lblVersion->SetCaption(strings.version);
  versionText_ = "V " + strings.version;
  lblComment->SetCaption(strings.comment);
}

}  // namespace monitor
