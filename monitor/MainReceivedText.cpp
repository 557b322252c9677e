// What the main window does with received text: the parse with the link-up
// bookkeeping and the charge items. The frame itself is found by FindFrame
// (FrameParser); the watchdog (MainWatchdog) looks at the data a second later.
#include "monitor/FrameParser.h"
#include "monitor/main.h"

namespace monitor {
namespace {

// pnlMask covers the LEDs at x = 0 and uncovers them out here.
constexpr int kMaskAside = -800;
// The pending window-open request of a lost link.
constexpr int kOpenNoConnection = 8;

}  // namespace

bool TfrmKorvamon::ParseFrame(const std::string& text) {
  // Every text, valid or not, is a sign of life for the watchdog.
  WatchdogTicks = 0;
  if (!LinkUp) {
    pnlMask->SetLeft(kMaskAside);
    lblSeriell->SetCaption(GetLangString(14));
    LogHistory(lblSeriell->Caption());
    LinkUp = true;
    SerialReopenLogged = false;
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

}  // namespace monitor
