// The connection watchdog: TimerConnection's second. The module talks all the
// time, so silence means the link is broken. Every received text sets the
// tick count back to 0 (ParseFrame); from the count the watchdog blinks the
// link LED while data flows, declares the link lost, closes and reopens the
// USB link, and finally marks the device's state as unknown. The same timer
// runs the start phase of the first six ticks.
#include <algorithm>

#include "monitor/Info.h"
#include "monitor/ReactionSwitches.h"
#include "monitor/Settings.h"
#include "monitor/main.h"

namespace monitor {
namespace {

// The ticks that mean something, counted since the last received text.
constexpr int kTickAlive = 1;
constexpr int kTickLinkLost = 4;
constexpr int kTickUsbRetry = 6;
// A link closed by the watchdog (USB) or broken (serial) is opened again.
constexpr int kTickReopen = 9;
constexpr int kTickSilence = 9;  // above it
constexpr int kTickAfterSilence = 5;
// The retry count wraps to a value past the loss long before it could overflow.
constexpr int kUsbRetriesWrapAbove = 1000;
constexpr int kUsbRetriesWrapped = 10;

// The start phase: the window may hide at the fifth tick; the sixth ends it.
constexpr int kStartTickHide = 4;
constexpr int kStartTickEnd = 5;
constexpr int kStartTicksCounted = 20;

// Whole values of the status and connection words.
constexpr int32_t kConnectionLost = 0x0111;
constexpr int32_t kConnectionSilent = 0x0188;
constexpr int32_t kStatusUnknown = 0x8888;

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

// The pending window-open request of a lost link.
constexpr uint32_t kOpenNoConnection = 8;
constexpr uint32_t kTextLinkLost = 13;

// The no-connection program's timer never runs shorter than this.
constexpr uint32_t kNoConnectFloorBelowMs = 100;
constexpr uint32_t kNoConnectFloorMs = 300;

TfrmInfo* FindAboutBox() {
  vcl::TApplication& application = vcl::Application();
  for (int i = 0; i < application.ComponentCount(); ++i) {
    if (auto* info = dynamic_cast<TfrmInfo*>(application.Components(i)))
      return info;
  }
  return nullptr;
}

}  // namespace

void TfrmKorvamon::TimerConnectionTimer(vcl::TObject*) {
  if (StartPhase)
    RunStartPhase();
  // The window hides behind the icon: without it nothing is left to click.
  if (TrayIcon->Wanted() && !TrayIcon->Shown())
    TrayIcon->Add();
  // Read first: what it reads is this tick's sign of life.
  ReadWithoutEventChar();

  ++WatchdogTicks;
  if (WatchdogTicks == kTickAlive) {
    ShowDataState();
  } else if (WatchdogTicks == kTickLinkLost) {
    if (UsbMode) {
      LED_Connection->SetPictureIndex(kLedYellow);
      CloseUsbLink();
    } else {
      DeclareLinkLost();
    }
  } else if (WatchdogTicks == kTickUsbRetry && UsbMode) {
    if (++UsbRetries > kUsbRetriesWrapAbove)
      UsbRetries = kUsbRetriesWrapped;
    if (UsbRetries == kUsbRetriesLost)
      DeclareLinkLost();
  } else if (WatchdogTicks == kTickReopen && UsbMode) {
    OpenUsbLink();
  } else if (WatchdogTicks == kTickReopen && SerialBroken) {
    ReopenSerialLink();
  } else if (WatchdogTicks > kTickSilence) {
    MarkSilence();
  }
}

void TfrmKorvamon::RunStartPhase() {
  if (StartTicks == kStartTickHide && LinkOk && DcOk && !OnBattery && !Alarm)
    Hide();
  if (StartTicks == kStartTickEnd) {
    StartPhase = false;
    if (const TfrmInfo* info = FindAboutBox()) {
      InfoVersion = info->VersionText();
      InfoDate = info->FileDateText();
      SetCaption(Caption() + "  (" + InfoVersion + " - " + InfoDate + ")");
    }
  }
  if (StartTicks < kStartTicksCounted)
    ++StartTicks;
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

void TfrmKorvamon::DeclareLinkLost() {
  Evaluating = false;
  LED_Connection->SetPictureIndex(kLedRed);
  pnlMask->SetLeft(0);  // covers the LEDs: what they show is no longer known
  lblDevice->SetCaption("");
  DeviceName.clear();
  lblSeriell->SetCaption(GetLangString(kTextLinkLost));
  ConnectionWord = kConnectionLost;
  LastMessage = GetLangString(kTextLinkLost);
  MessTimer->SetEnabled(false);
  BlinkCount = 0;
  BlinkMs = 0;
  edRead->Clear();
  LinkOk = false;

  // Once per silence: the ticks after this one never come back to it.
  if (LinkUp || StartPhase) {
    LinkUp = false;
    FrameValid = false;
    FrameText.clear();
    ReceivedText.clear();
    LogHistory(lblSeriell->Caption());
    RequestOpenWindow(kOpenNoConnection);
  }

  if (CurrentReactionSwitches().StartProgram(ProgramEvent::NoConnect)) {
    uint32_t interval = Settings::Current().ReactionDelayMs(ReactionDelay::Verbindung);
    if (interval < kNoConnectFloorBelowMs)
      interval = kNoConnectFloorMs;
    TimerVerbindung->SetInterval(interval);
    TimerVerbindung->SetEnabled(true);
  }
}

void TfrmKorvamon::MarkSilence() {
  WatchdogTicks = kTickAfterSilence;
  StatusWord = kStatusUnknown;
  StatusWordUnknown = true;
  ConnectionWord = kConnectionSilent;
  ReceivedText.clear();
}

}  // namespace monitor
