// The status evaluation: the module's words in each frame become the four
// device conditions (DC input, battery operation, alarm, charge above 85 %),
// a blinking ALARM word becomes a battery fault, and each condition that
// changed runs its reaction (LED, label, StatusWord field, LastMessage,
// history line, program timer, window-open request). The serial link lets a
// worsening count only at its third frame in a row; USB counts every change
// at once. Main thread only.
#include <algorithm>
#include <optional>
#include <string>
#include <string_view>

#include "monitor/Globfunc.h"
#include "monitor/ReactionSwitches.h"
#include "monitor/Settings.h"
#include "monitor/main.h"

namespace monitor {
namespace {

// The window-open request of each event, by direction.
constexpr int kOpenDcLow = 1;
constexpr int kOpenDcOk = 128;
constexpr int kOpenBattery = 2;
constexpr int kOpenBatteryEnded = 256;
constexpr int kOpenAlarm = 4;
constexpr int kOpenBufferReady = 512;
constexpr int kOpenNoConnection = 8;
constexpr int kOpenAkku = 16;
constexpr int kOpenOver85 = 32;
constexpr int kOpenUnder85 = 4096;

// LED cells.
constexpr int kLedOff = 0;
constexpr int kLedYellow = 1;
constexpr int kLedGreen = 2;
constexpr int kLedRed = 3;

// What each reaction keeps of StatusWord when it writes its own field.
constexpr int32_t kKeepDc = 0xFF0F;
constexpr int32_t kKeepBattery = 0xF0FF;
constexpr int32_t kKeepAlarm = 0x0FFF;
constexpr int32_t kKeepCharge = 0xFFF0;
// The battery fault rewrites bits 13-15 only: the alarm bit 12 stays.
constexpr int32_t kKeepAkku = 0x1FFF;

// Each reaction's field of StatusWord.
constexpr int32_t DcField(bool ok) {
  return ok ? 0x20 : 0x80;
}
constexpr int32_t BatteryField(bool on) {
  return on ? 0x400 : 0x800;
}
constexpr int32_t AlarmField(bool alarm) {
  return alarm ? 0x1000 : 0x8000;
}
constexpr int32_t ChargeField(bool over) {
  return over ? 0x2 : 0x8;
}
constexpr int32_t AkkuField(bool fault) {
  return fault ? 0x4000 : 0x8000;
}

// A program timer set below this fires after kTimerFloorMs instead.
constexpr uint32_t kTimerMinimumMs = 60;
constexpr uint32_t kTimerFloorMs = 100;
// The shutdown timer's shortest interval.
constexpr uint32_t kShutDownFloorMs = 50;

// The blink detection: an ALARM phase counts when it lasted 401 to 2099 ms;
// the fifth in a row is a battery that needs replacing. A BUFRD run of more
// than 24 frames ends the blinking.
constexpr int kPhaseShortestMs = 400;
constexpr int kPhaseLongestMs = 2100;
constexpr int kBlinkFault = 5;
constexpr int kBlinkHeld = 10;
constexpr int kBufrdRunEnd = 24;
constexpr int kBufrdRunRestart = 20;
constexpr int kBlinkMsLimit = 10000;
constexpr int kMessTimerStepMs = 100;

bool Has(std::string_view frame, std::string_view word) {
  return frame.find(word) != std::string_view::npos;
}

uint32_t ProgramTimerInterval(uint32_t ms) {
  return ms < kTimerMinimumMs ? kTimerFloorMs : ms;
}

void Arm(vcl::TTimer* timer, uint32_t ms) {
  timer->SetInterval(ms);
  timer->SetEnabled(true);
}

// Counts the frames of a word in a row, modulo 4; the other word's count restarts.
void CountInRow(int& count, int& other) {
  other = 0;
  count = (count + 1) % 4;
}

// The two characters after `marker`, when they are a number.
std::optional<int32_t> NumberAfter(std::string_view frame, std::string_view marker) {
  const size_t at = frame.find(marker);
  if (at == std::string_view::npos)
    return std::nullopt;
  return ParseInteger(frame.substr(at + marker.size(), 2));
}

}  // namespace

// ---------------------------------------------------------------- evaluation

void TfrmKorvamon::EvaluateFrameSerial(const std::string& text) {
  // A copy: the reactions may handle messages, and a parse then replaces FrameText.
  const std::string frame = text;
  RecallStatusWord();
  if (FirstFrame) {
    EvaluateFirstFrame(frame, Link::Serial);
    return;
  }
  const ScopedFlag scope(Evaluating);

  if (Has(frame, "DC_OK")) {
    CountInRow(DcOkCount, DcLowCount);
    if (DcOkCount > 0)
      DcOk = true;
  } else if (Has(frame, "DC_LO")) {
    CountInRow(DcLowCount, DcOkCount);
    if (DcLowCount > 2)
      DcOk = false;
  } else {
    DcOkCount = 0;
    DcLowCount = 0;
  }

  if (Has(frame, "*****")) {
    CountInRow(NoBatCount, BatCount);
    if (NoBatCount > 2)
      OnBattery = false;
  } else if (Has(frame, "*BAT*")) {
    CountInRow(BatCount, NoBatCount);
    if (BatCount > 2)
      OnBattery = true;
  } else {
    BatCount = 0;
    NoBatCount = 0;
  }

  TimeAlarmPhases(frame);

  if (Has(frame, "BA>85")) {
    Under85Count = 0;
    if (++Over85Count > 2) {
      Over85Count = 3;
      TimerUnder85->SetEnabled(false);
      Over85State = true;
    }
  } else if (Has(frame, "BA<85")) {
    Over85Count = 0;
    if (++Under85Count > 2) {
      Under85Count = 3;
      TimerOver85->SetEnabled(false);
      Over85State = false;
    }
  } else {
    Over85Count = 0;
    Under85Count = 0;
  }

  JudgeBlinking();
  FinishEvaluation(frame);

  if (DcOk != DcOkPrev) {
    DcOkPrev = DcOk;
    SetDcState(DcOk);
  }
  if (OnBattery != OnBatteryPrev) {
    OnBatteryPrev = OnBattery;
    SetBatteryState(OnBattery);
  }
  ReportAlarmChange();
  if (Over85State != Over85Prev) {
    Over85Prev = Over85State;
    SetCharge85State(Over85State, true);
  }
}

void TfrmKorvamon::EvaluateFrameUsb() {
  const std::string frame = FrameText;
  RecallStatusWord();
  if (FirstFrame) {
    EvaluateFirstFrame(frame, Link::Usb);
    return;
  }
  const ScopedFlag scope(Evaluating);
  ReplySeen = true;

  if (Has(frame, "DC_OK"))
    DcOk = true;
  else if (Has(frame, "DC_LO"))
    DcOk = false;
  if (DcOk != DcOkPrev) {
    DcOkPrev = DcOk;
    SetDcState(DcOk);
  }

  if (Has(frame, "*****"))
    OnBattery = false;
  else if (Has(frame, "*BAT*"))
    OnBattery = true;
  if (OnBattery != OnBatteryPrev) {
    OnBatteryPrev = OnBattery;
    SetBatteryState(OnBattery);
  }

  if (Has(frame, "BA>85")) {
    TimerUnder85->SetEnabled(false);
    Over85State = true;
  } else if (Has(frame, "BA<85")) {
    TimerOver85->SetEnabled(false);
    Over85State = false;
  }
  if (Over85State != Over85Prev) {
    Over85Prev = Over85State;
    SetCharge85State(Over85State, true);
  }

  TimeAlarmPhases(frame);
  ReportAlarmChange();
  JudgeBlinking();
  FinishEvaluation(frame);
}

void TfrmKorvamon::EvaluateFirstFrame(const std::string& frame, Link link) {
  const ScopedFlag scope(Evaluating);
  if (link == Link::Usb)
    ReplySeen = true;
  // A condition in order finds its opposite request pending and takes it back
  // instead of asking for the window.
  TimerOpen->Tag |= kOpenDcLow | kOpenBattery | kOpenAlarm | kOpenNoConnection | kOpenUnder85;
  ShutdownRetries = 0;

  if (Has(frame, "DC_OK"))
    DcOk = true;
  else if (Has(frame, "DC_LO"))
    DcOk = false;
  DcOkPrev = DcOk;
  SetDcState(DcOk);

  if (Has(frame, "*****"))
    OnBattery = false;
  else if (Has(frame, "*BAT*"))
    OnBattery = true;
  OnBatteryPrev = OnBattery;
  SetBatteryState(OnBattery);

  if (Has(frame, "BUFRD"))
    Alarm = false;
  else if (Has(frame, "ALARM"))
    Alarm = true;
  AlarmPrev = Alarm;
  SetAlarmState(Alarm);

  const bool chargeWord = Has(frame, "BA>85") || Has(frame, "BA<85");
  if (Has(frame, "BA>85")) {
    Over85State = true;
    Over85Prev = true;
  } else if (Has(frame, "BA<85")) {
    Over85State = false;
    Over85Prev = false;
  }
  // Also for modules that send no charge word.
  SetCharge85State(Over85State, false);
  // Such a module never sends the word that would cancel its request: left
  // pending, it would open the window at the end of any later event.
  if (!chargeWord && (TimerOpen->Tag & kOpenUnder85))
    RemoveOpenRequest(kOpenUnder85);

  BlinkTiming = false;
  FirstFrame = false;

  if (link == Link::Serial && Has42CharFrames)
    ReadDeviceRating(frame);
  if (DcOk && Over85State && !OnBattery && !Alarm)
    Hide();
}

void TfrmKorvamon::ReadDeviceRating(const std::string& frame) {
  std::optional<int32_t> rating = NumberAfter(frame, "RTS");
  if (!rating)
    rating = NumberAfter(frame, "TPS");
  // Without a rating the name the link gave stands.
  if (!rating)
    return;
  const std::string name = "KORVA DI-ZOD " + std::to_string(*rating);
  lblDevice->SetCaption(name);
  DeviceName = name;
}

void TfrmKorvamon::TimeAlarmPhases(const std::string& frame) {
  if (Has(frame, "BUFRD")) {
    AlarmFrames = 0;
    if (++BufrdFrames > kBufrdRunEnd) {
      BufrdFrames = kBufrdRunRestart;
      BlinkCount = 0;
    }
    if (BufrdFrames == 1) {
      // The ALARM phase that just ended is judged by its length.
      BlinkTiming = false;
      if (BlinkMs > kPhaseShortestMs && BlinkMs < kPhaseLongestMs) {
        ++BlinkCount;
        BlinkMs = 0;
      } else {
        BlinkCount = 0;
      }
    }
    Alarm = false;
  } else if (Has(frame, "ALARM")) {
    BufrdFrames = 0;
    if (++AlarmFrames == 1) {
      BlinkTiming = true;
      BlinkMs = 0;
      MessTimer->SetEnabled(true);
    }
    Alarm = true;
  } else {
    BufrdFrames = 0;
  }
}

void TfrmKorvamon::JudgeBlinking() {
  if (BlinkCount < kBlinkFault)
    SetAkkuState(false);
  else if (BlinkCount == kBlinkFault)
    SetAkkuState(true);  // raises the count past 5: the fault is told once
  else if (BlinkCount >= 9 && BlinkCount <= 99)
    BlinkCount = kBlinkHeld;  // held while valid phases go on
}

void TfrmKorvamon::ReportAlarmChange() {
  if (Alarm == AlarmPrev)
    return;
  AlarmPrev = Alarm;
  // While a battery fault blinks, the LED follows the word and nothing else does.
  if (BlinkCount >= kBlinkFault)
    LED_ALARM->SetPictureIndex(Alarm ? kLedRed : kLedOff);
  else
    SetAlarmState(Alarm);
}

void TfrmKorvamon::RecallStatusWord() {
  if (!StatusWordUnknown)
    return;
  StatusWordUnknown = false;
  // Composed as the reactions compose it: the alarm field first, then the
  // fault verdict over its bits 13-15 (the fault is held once told).
  StatusWord = DcField(DcOkPrev) | BatteryField(OnBatteryPrev) | AlarmField(AlarmPrev) |
               ChargeField(Over85Prev);
  StatusWord = (StatusWord & kKeepAkku) | AkkuField(BlinkCount > kBlinkFault);
}

void TfrmKorvamon::FinishEvaluation(const std::string& frame) {
  if (BlinkMs > kBlinkMsLimit)
    BlinkMs = 0;
  // The module's answer to the shutdown signal.
  if (Has42CharFrames && Has(frame, "SDREC"))
    ShutdownWindows();
}

void TfrmKorvamon::MessTimerTimer(vcl::TObject*) {
  // Only an evaluated frame resets it: text without frames must not make it overflow.
  if (BlinkMs <= kBlinkMsLimit)
    BlinkMs += kMessTimerStepMs;
}

// ---------------------------------------------------------------- reactions

void TfrmKorvamon::CancelOrRequestOpen(int own, int opposite) {
  if (TimerOpen->Tag & opposite)
    RemoveOpenRequest(opposite);
  else
    RequestOpenWindow(static_cast<uint32_t>(own));
}

void TfrmKorvamon::SetDcState(bool ok) {
  StatusWord = (StatusWord & kKeepDc) | DcField(ok);
  LED_OK->SetPictureIndex(ok ? kLedGreen : kLedOff);
  const std::string text = GetLangString(ok ? 6 : 7);
  labOK->SetCaption(text);
  LastMessage = (ok ? "DC_OK / " : "DC_LO / ") + text;
  LogHistory(LastMessage);
  if (ok)
    CancelOrRequestOpen(kOpenDcOk, kOpenDcLow);
  else
    CancelOrRequestOpen(kOpenDcLow, kOpenDcOk);
}

void TfrmKorvamon::SetBatteryState(bool on) {
  const ReactionSwitches switches = CurrentReactionSwitches();
  if (on) {
    StatusWord = (StatusWord & kKeepBattery) | BatteryField(true);
    const std::string text = GetLangString(8);
    LastMessage = "*BAT* / " + text;
    LogHistory(LastMessage);
    LED_BAT->SetPictureIndex(kLedYellow);
    labBAT->SetCaption(text);
    const Settings settings = Settings::Current();
    if (switches.StartProgram(ProgramEvent::DcLow)) {
      const uint32_t delay = settings.StartDelayMs();
      TimerAppStart->SetInterval(delay);
      if (delay < kTimerMinimumMs)
        TimerAppStartTimer(TimerAppStart);
      else
        TimerAppStart->SetEnabled(true);
    }
    if (switches.shutdownAfterBattery)
      Arm(TimerShutDown, std::max(settings.ShutDownDelayMs(), kShutDownFloorMs));
    CancelOrRequestOpen(kOpenBattery, kOpenBatteryEnded);
    return;
  }
  StatusWord = (StatusWord & kKeepBattery) | BatteryField(false);
  const std::string text = GetLangString(9);
  LastMessage = text;
  for (vcl::TTimer* timer : {TimerShutDown, TimerAppStart}) {
    if (timer->Enabled()) {
      timer->SetEnabled(false);
      timer->SetInterval(0);
    }
  }
  LED_BAT->SetPictureIndex(kLedOff);
  labBAT->SetCaption(text);
  LogHistory(text);
  CancelOrRequestOpen(kOpenBatteryEnded, kOpenBattery);
}

void TfrmKorvamon::SetAlarmState(bool alarm) {
  if (alarm) {
    LED_ALARM->SetPictureIndex(kLedRed);
    StatusWord = (StatusWord & kKeepAlarm) | AlarmField(true);
    const std::string text = GetLangString(11);
    labAlarm->SetCaption(text);
    LastMessage = text;
    LogHistory(text);
    if (CurrentReactionSwitches().StartProgram(ProgramEvent::Alarm)) {
      Arm(TimerAlarm,
          ProgramTimerInterval(Settings::Current().ReactionDelayMs(ReactionDelay::Alarm)));
    }
    CancelOrRequestOpen(kOpenAlarm, kOpenBufferReady);
    return;
  }
  TimerAlarm->SetEnabled(false);
  LED_ALARM->SetPictureIndex(kLedOff);
  StatusWord = (StatusWord & kKeepAlarm) | AlarmField(false);
  const std::string text = GetLangString(10);
  labAlarm->SetCaption(text);
  LastMessage = text;
  LogHistory(text);
  CancelOrRequestOpen(kOpenBufferReady, kOpenAlarm);
}

void TfrmKorvamon::SetCharge85State(bool over, bool withTimer) {
  const ReactionSwitches switches = CurrentReactionSwitches();
  const std::string text = GetLangString(over ? 31 : 32);
  StatusWord = (StatusWord & kKeepCharge) | ChargeField(over);
  LastMessage = text;
  LED_FULL->SetPictureIndex(over ? kLedGreen : kLedOff);
  labFull->SetCaption(text);
  const ProgramEvent event = over ? ProgramEvent::Over85 : ProgramEvent::Under85;
  if (withTimer && switches.StartProgram(event)) {
    const ReactionDelay delay = over ? ReactionDelay::Over85 : ReactionDelay::Under85;
    Arm(over ? TimerOver85 : TimerUnder85,
        ProgramTimerInterval(Settings::Current().ReactionDelayMs(delay)));
  }
  if (over)
    CancelOrRequestOpen(kOpenOver85, kOpenUnder85);
  else
    CancelOrRequestOpen(kOpenUnder85, kOpenOver85);
  LogHistory(labFull->Caption());
}

void TfrmKorvamon::SetAkkuState(bool fault) {
  if (!fault) {
    TimerAkku->SetEnabled(false);
    StatusWord = (StatusWord & kKeepAkku) | AkkuField(false);
    if (TimerOpen->Tag & kOpenAkku)
      RemoveOpenRequest(kOpenAkku);
    return;
  }
  const std::string text = GetLangString(12);
  LastMessage = text;
  labAlarm->SetCaption(text);
  StatusWord = (StatusWord & kKeepAkku) | AkkuField(true);
  BlinkMs = 0;
  ++BlinkCount;
  if (CurrentReactionSwitches().StartProgram(ProgramEvent::Akku))
    Arm(TimerAkku, ProgramTimerInterval(Settings::Current().ReactionDelayMs(ReactionDelay::Akku)));
  RequestOpenWindow(kOpenAkku);
  LogHistory(labAlarm->Caption());
}

}  // namespace monitor
