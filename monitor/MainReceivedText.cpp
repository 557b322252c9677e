// What the main window does with received text: the parse with the link-up
// bookkeeping and the charge items, and the watchdog's look at the data one
// second later. The frame itself is found by FindFrame (FrameParser).
#include <algorithm>

#include "monitor/FrameParser.h"
#include "monitor/main.h"

namespace monitor {
namespace {

// pnlMask covers the LEDs at x = 0 and uncovers them out here.
constexpr int kMaskAside = -800;
// The pending window-open request of a lost link.
constexpr int kOpenNoConnection = 8;

// The data field of ConnectionWord (bits 8-11) and its values.
constexpr int32_t kDataField = 0x0F00;
constexpr int kDataFieldShift = 8;
constexpr int32_t kDataAlive = 2;
constexpr int32_t kDataInvalid = 4;
constexpr int32_t kDataPause = 8;

// LED_Connection's cells.
constexpr int kLedOff = 0;
constexpr int kLedYellow = 1;
constexpr int kLedGreen = 2;
constexpr int kLedRed = 3;

}  // namespace

bool TfrmKorvamon::ParseFrame(const std::string& text) {
  // Every text, valid or not, is a sign of life for the watchdog.
  WatchdogTicks = 0;
  if (!LinkUp) {
    pnlMask->SetLeft(kMaskAside);
    lblSeriell->SetCaption(GetLangString(14));
    LogHistory(lblSeriell->Caption());
    LinkUp = true;
    ConnectionWord = (ConnectionWord & 0x000F) | 0x0420;
    LastMessage = GetLangString(14);
    RemoveOpenRequest(kOpenNoConnection);
  }
  if (pnlMask->Left() == 0)
    pnlMask->SetLeft(kMaskAside);

  const FoundFrame found = FindFrame(text);
  FrameValid = found.valid;
  if (found.valid) {
    Has28CharFrames = found.length == kChargeFrameLength;
    Has42CharFrames = found.length == kLongFrameLength;
    FrameText = std::string(found.frame);
    ShowChargeItems();
  } else {
    FrameText = GetLangString(104);
    lblDevice->SetCaption("");
    DeviceName.clear();
  }
  ReceivedText = FrameText;
  return FrameValid;
}

void TfrmKorvamon::ShowChargeItems() {
  if (Has28CharFrames) {
    labVoll->Show();
    labFull->Show();
    // Shown here, hidden only by frames without the charge word.
    if (Over85State)
      LED_FULL->Show();
  } else {
    LED_FULL->Hide();
    labVoll->Hide();
    labFull->Hide();
  }
}

void TfrmKorvamon::RemoveOpenRequest(int bit) {
  TimerOpen->Tag &= ~bit;
  if (TimerOpen->Tag == 0)
    TimerOpen->SetEnabled(false);
}

void TfrmKorvamon::TimerConnectionTimer(vcl::TObject*) {
  ++WatchdogTicks;
  if (WatchdogTicks == 1)
    ShowDataState();
}

void TfrmKorvamon::ShowDataState() {
  LinkOk = true;
  UsbRetries = 0;
  TimerVerbindung->SetEnabled(false);
  RemoveOpenRequest(kOpenNoConnection);

  // While valid frames arrive the field alternates 2 and 8, so the link's
  // OPC item alternates too; texts without a frame settle on 4.
  const int32_t field = (ConnectionWord & kDataField) >> kDataFieldShift;
  const int32_t next = (field & 0xD) == 0 ? kDataPause : FrameValid ? kDataAlive : kDataInvalid;
  ConnectionWord = (ConnectionWord & ~kDataField) | (next << kDataFieldShift);

  const int cell = LED_Connection->PictureIndex();
  if (cell == kLedGreen || cell > kLedRed)
    LED_Connection->SetPictureIndex(kLedOff);
  else
    LED_Connection->SetPictureIndex(FrameValid ? kLedGreen : kLedYellow);

  if (FrameValid) {
    if (btnUpDown->Down()) {
      std::replace(FrameText.begin(), FrameText.end(), '\n', '-');
      std::replace(FrameText.begin(), FrameText.end(), '\r', '-');
      edRead->SetText(FrameText);
    }
  } else {
    if (btnUpDown->Down())
      edRead->Clear();
    ReceivedText.clear();
  }
}

}  // namespace monitor
