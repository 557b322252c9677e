// Unit main: korvamon's main window. TfrmKorvamon holds the device state, the
// LED images, the timers that drive every reaction, the tray icon with its
// menu and the hot key; every history line of the monitor passes through its
// LogHistory. The unit also keeps the single-instance guard that runs before
// any window exists.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "monitor/Hint.h"
#include "monitor/IndexImage.h"
#include "monitor/Serial.h"
#include "monitor/lang.h"
#include "platform/System.h"
#include "vcl/Buttons.h"
#include "vcl/ComCtrls.h"
#include "vcl/ExtCtrls.h"
#include "vcl/Forms.h"
#include "vcl/Menus.h"
#include "vcl/StdCtrls.h"
#include "vcl/TrayIcon.h"

namespace monitor {

// WM_COMMEVENT (unit Serial) is posted by the serial event thread; wParam is the event.
// The tray icon's mouse messages; lParam is the mouse message.
inline constexpr uint32_t WM_TRAYICON = 0x8400;
inline constexpr int kHotKeyId = 0xB000;
inline constexpr uint32_t kTrayIconId = 1;

// The application title, which a later instance searches for.
inline constexpr const char* kApplicationTitle = "DI-ZOD";
inline constexpr const char* kInstanceMutexName = "KORVA-MUTEX";

// Window heights without and with the received-text line.
inline constexpr int kHeightCollapsed = 279;
inline constexpr int kHeightExpanded = 333;

// Whether the shutdown sequence signals the module first; set at start and by
// every save of the settings dialog. The shutdown thread reads it.
extern std::atomic<bool> ShutdownSignalEnabled;

// The Windows family code of an OS version: 1 NT 6, 2 NT 5.1, 3 other NT 5,
// 4 NT below 5, 5 9x 4.10, 6 9x x.0, 7 9x 4.90, 0 anything else.
uint8_t WindowsVersionCode(const platform::OsVersion& version);

// What a later instance does when it meets the running one: ask the user
// whether to show that one, or end at once without a word (started by COM
// for a client, nobody would see the question, and the client would wait on
// it instead of getting COM's failure).
enum class SecondInstance { Ask, EndAtOnce };

// The single-instance guard: takes the program's mutex. When another
// instance holds it, asks the user (in the language of the settings file)
// whether to show that one and does so on Yes, unless told to end at once;
// then returns false: this process is to end at once, with no window, no
// settings written and no history line.
bool PassSingleInstanceGuard(SecondInstance second = SecondInstance::Ask);
// Gives the mutex back (the end of the process, or of a test's program).
void ReleaseSingleInstanceMutex();
// Asks the running instance to show its window, as a double click on its tray
// icon does, and beeps when it was found.
void ShowRunningInstance();

// The error a link raises when it cannot be opened as configured.
class ELinkError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TAbschaltimpuls;
class TUSB_Status;
class TfrmKorvamon;

// Asks a worker thread of the main window to stop, joins it and lets it go.
template <class Thread>
void StopThread(std::unique_ptr<Thread>& thread) {
  if (!thread)
    return;
  thread->Terminate();
  thread->WaitFor();
  thread.reset();
}

// Runs `work` with the main window on the main thread, unless the window with
// this handle is gone by then. Any thread; never waits.
void PostToMainWindow(vcl::TWindowHandle window, std::function<void(TfrmKorvamon&)> work);

class TfrmKorvamon : public vcl::TForm {
 public:
  explicit TfrmKorvamon(vcl::TComponent* owner);
  ~TfrmKorvamon() override;

  // ---- controls
  vcl::TPanel* pnlDevice;
  vcl::TLabel* lblText47;
  vcl::TLabel* lblDevice;
  vcl::TPanel* pnlLEDs;
  vcl::TPanel* pnlLEDfeld_S;
  vcl::TPanel* pnlLEDfeld_B;
  TIndexImage* LED_OK;
  TIndexImage* LED_BAT;
  TIndexImage* LED_ALARM;
  TIndexImage* LED_FULL;
  vcl::TLabel* labOK;
  vcl::TLabel* labBAT;
  vcl::TLabel* labAlarm;
  vcl::TLabel* labFull;
  vcl::TLabel* Label4;
  vcl::TLabel* Label9;
  vcl::TLabel* Label10;
  vcl::TLabel* labVoll;
  vcl::TPanel* pnlMask;
  vcl::TPanel* pnlConnect;
  TIndexImage* LED_Connection;
  vcl::TLabel* lblSeriell;
  vcl::TButton* btnKonfig;
  vcl::TButton* btnHistory;
  vcl::TSpeedButton* btnUpDown;
  vcl::TButton* btnHide;
  vcl::TPanel* pnlHGtext;
  vcl::TLabel* lblExtended;
  vcl::TEdit* edRead;
  vcl::TStatusBar* StatBar;
  vcl::TPopupMenu* PopupMenu;
  vcl::TMenuItem* mnuCaption;
  vcl::TMenuItem* N1;
  vcl::TMenuItem* mnuShow;
  vcl::TMenuItem* mnuKonfig;
  vcl::TMenuItem* mnuProtokoll;
  vcl::TMenuItem* mnuInfo;
  vcl::TMenuItem* N2;
  vcl::TMenuItem* mnuBeenden;
  THHint* MZHint;
  // The icon in the notification area; its mouse messages come as WM_TRAYICON.
  vcl::TTrayIcon* TrayIcon;
  // The serial port of the link: 9600 8N1, RTS/CTS, frames announced by
  // their line feed.
  TSerial* SComm;

  // ---- timers (all disabled until a reaction starts them)
  vcl::TTimer* TimerConnection;
  vcl::TTimer* MessTimer;
  // Its Tag holds the pending window-open requests, one bit per event
  // (RemoveOpenRequest takes one back).
  vcl::TTimer* TimerOpen;
  vcl::TTimer* TimerAppStart;
  vcl::TTimer* TimerShutDown;
  vcl::TTimer* TimerVerbindung;
  vcl::TTimer* TimerAlarm;
  vcl::TTimer* TimerAkku;
  vcl::TTimer* TimerOver85;
  vcl::TTimer* TimerUnder85;
  vcl::TTimer* TimerScanOPCServer;

  // ---- device and link state
  int32_t StatusWord = 0x1111;
  // The silence step wrote the unknown state over StatusWord; the next
  // evaluated frame puts the last reported conditions back.
  bool StatusWordUnknown = false;
  int32_t ConnectionWord = 0x0888;
  std::string DeviceName;
  std::string LastMessage;
  std::string ReceivedText;
  std::string FrameText;
  bool FrameValid = false;
  bool Has28CharFrames = true;
  bool Has42CharFrames = false;
  bool FirstShow = true;
  bool FirstFrame = true;
  bool Evaluating = false;
  bool DcOk = false;
  bool OnBattery = false;
  bool Alarm = false;
  bool Over85State = false;
  bool DcOkPrev = false;
  bool OnBatteryPrev = false;
  bool AlarmPrev = false;
  bool Over85Prev = false;
  int DcOkCount = 0;
  int DcLowCount = 0;
  int BatCount = 0;
  int NoBatCount = 0;
  int Over85Count = 0;
  int Under85Count = 0;
  int AlarmFrames = 0;
  int BufrdFrames = 0;
  int BlinkCount = 0;
  int BlinkMs = 0;
  bool BlinkTiming = false;
  int WatchdogTicks = 0;
  bool LinkUp = false;
  bool LinkOk = false;
  bool StartPhase = true;
  int StartTicks = 0;
  bool UsbMode = false;
  // The serial port broke under its open handle (its event thread said so):
  // the watchdog closes it and opens it again at every fifth tick.
  bool SerialBroken = false;
  // A failed reopen of the broken port went to the history (once until the
  // link is up again).
  bool SerialReopenLogged = false;
  // Watchdog ticks since the port last announced a frame's line feed; from
  // the second on, the watchdog reads the queue itself.
  int TicksWithoutEventChar = 0;
  // The watchdog's retries of the USB link since the last valid frame. At the
  // kUsbRetriesLost-th the link is lost; from then on a failed open goes to
  // the history and a closing shows the device gone.
  int UsbRetries = 0;
  static constexpr int kUsbRetriesLost = 4;
  bool UsbOpenErrorLogged = false;
  // Set by the USB polling thread when a block holds a frame, so the shutdown
  // command sees the module's replies while it waits on the main thread.
  std::atomic<bool> ReplySeen{false};
  bool UsbShutdownSent = false;
  int ShutdownRetries = 0;
  // The pulse train under way (or ended, its end not handled yet).
  std::unique_ptr<TAbschaltimpuls> PulseThread;
  uint8_t LanguageCode = 0;
  ::monitor::LanguageDll LanguageDll;
  uint8_t WindowsVersion = 0;
  // The executable's folder, with its trailing separator.
  std::string AppDir;
  bool LogLimit8k = false;
  std::string InfoVersion;
  std::string InfoDate;

  // ---- window events
  void FormCreate(vcl::TObject* sender);
  void FormShow(vcl::TObject* sender);
  void FormClose(vcl::TObject* sender, vcl::TCloseAction& action);
  void FormDestroy(vcl::TObject* sender);
  void FormKeyDown(vcl::TObject* sender, uint16_t& key, vcl::TShiftState shift);

  // ---- buttons and menu commands
  void btnKonfigClick(vcl::TObject* sender);
  void mnuKonfigClick(vcl::TObject* sender) { btnKonfigClick(sender); }
  void btnHistoryClick(vcl::TObject* sender);
  void mnuProtokollClick(vcl::TObject* sender) { btnHistoryClick(sender); }
  void btnHideClick(vcl::TObject* sender);
  void btnUpDownClick(vcl::TObject* sender);
  void mnuShowClick(vcl::TObject* sender);
  void mnuInfoClick(vcl::TObject* sender);
  void mnuCaptionClick(vcl::TObject* sender);
  void mnuBeendenClick(vcl::TObject* sender);

  // ---- messages
  void WndProc(vcl::TMessage& message) override;
  void WMTrayNotify(vcl::TMessage& message);
  void WMHotKey(vcl::TMessage& message);
  // wParam 2 reads a frame, 128 reports the line errors posted with it; the
  // result is wParam.
  void WMSerialEvent(vcl::TMessage& message);

  // ---- the serial link (main thread)
  // Opens SComm on COM1..COM4 with its event thread and tells the status bar
  // how it went. A number above the ports raises ELinkError; 0 or less names
  // no port and is reported as a port that does not open.
  void OpenSerialLink(int32_t port);
  // Closes SComm, waits a second while handling messages, and reports the
  // result in the status bar and the history. Nothing without a port number.
  void CloseSerialLink();
  // A frame's line feed came with at least 63 characters queued: with 84 or
  // more queued, the whole queue is read and parsed.
  void SCommEventChar(vcl::TObject* sender);
  // Line errors: `errors` is the error word the event thread took from the
  // port with its post (reading it again here would find it cleared).
  void SCommError(vcl::TObject* sender, uint32_t errors);
  // Empties SComm's input queue; a refusal goes to the history and edRead.
  bool ClearSerialRx();
  // SComm's event thread ended on a failed wait: when the port does not
  // answer either, the device went away (SerialBroken).
  void SCommBroken(vcl::TObject* sender);
  // The watchdog's retry for a broken port: closes it and opens it again,
  // quietly; only the first failure of an outage reaches the history.
  void ReopenSerialLink();
  // A driver that never announces the line feed, or cannot wait at all:
  // once two watchdog ticks passed without the announcement, the watchdog
  // reads the queue as SCommEventChar does (and notices a port gone).
  void ReadWithoutEventChar();

  // ---- received text
  // Parses one received block: the link-up bookkeeping on the first text
  // after a start or a link loss, the watchdog's sign of life, and the frame
  // (FrameText, FrameValid, the frame length flags, ReceivedText). Main thread.
  bool ParseFrame(const std::string& text);
  // Shows the charge items for 28-character frames, hides them otherwise.
  void ShowChargeItems();
  // Takes a pending window-open request back; with none left, TimerOpen stops.
  void RemoveOpenRequest(int bit);
  // Adds an event's window-open request (the event's bit) and beeps.
  void RequestOpenWindow(uint32_t bit);

  // Never started; kept for the timer it handles.
  void TimerScanOPCServerTimer(vcl::TObject*) {}

  // Makes the window visible and brings it to the front.
  void ShowMainWindow();
  // Puts the icon in the notification area with the application's title as
  // its tip. It comes back by itself when the shell's task bar is new; an add
  // the shell refused (no task bar yet at logon) is tried again at every
  // watchdog tick.
  void AddTrayIcon();
  void RemoveTrayIcon();
  // Sleeps the start delay of the settings file. Only what others send and
  // wait for is answered meanwhile (a broadcast, the end of the session).
  void WaitStartDelay();
  void ApplyLanguageTexts();
  // Hands a line to the history window; dropped while that does not exist.
  void LogHistory(const std::string& text);

 private:
  void BuildLayout();
  void BuildMenu();
  void BuildTimers();
  void BuildSerialLink();
  // Opens SComm with its event thread and reports it in the status bar (no
  // beep); true when it opened.
  bool OpenSerialPort();
  // The watchdog's work at its first tick after a received text.
  void ShowDataState();
  void RegisterSelectedHotKey();
  void OpenConfiguredLink();
  // A write to the settings file during the start was refused: the user is
  // told, and the start goes on.
  static void ReportStartWriteFailure(const std::string& error);

  // ---- the status evaluation (MainEvaluation.cpp)
 public:
  // A parsed frame of the serial link: a worsening counts at its third frame
  // in a row. Main thread; the caller skips it while Evaluating is set.
  void EvaluateFrameSerial(const std::string& frame);
  // FrameText from the USB link: every change counts at once. Main thread;
  // the caller skips it while Evaluating is set.
  void EvaluateFrameUsb();
  // The reactions: each sets its LED, label, field of StatusWord,
  // LastMessage and history line, arms or stops its program timer and asks
  // for (or takes back) the window's opening.
  void SetDcState(bool ok);
  void SetBatteryState(bool on);
  void SetAlarmState(bool alarm);
  void SetCharge85State(bool over, bool withTimer);
  void SetAkkuState(bool fault);
  // Times the ALARM phases of a blinking alarm in 100 ms steps.
  void MessTimerTimer(vcl::TObject* sender);

 private:
  enum class Link { Serial, Usb };
  // Every reaction once, the rating of a long frame, the window hidden when
  // all is well.
  void EvaluateFirstFrame(const std::string& frame, Link link);
  void ReadDeviceRating(const std::string& frame);
  // The ALARM/BUFRD words and the timing of their phases.
  void TimeAlarmPhases(const std::string& frame);
  // Reports the battery fault at the fifth valid ALARM phase in a row.
  void JudgeBlinking();
  // The alarm change once a fault is reported only switches the LED.
  void ReportAlarmChange();
  void FinishEvaluation(const std::string& frame);
  // After a silence, StatusWord shows the last reported conditions again, so
  // that a module that comes back unchanged is not left unknown; a condition
  // that changed meanwhile reacts as usual. No line, no program.
  void RecallStatusWord();
  // Takes the opposite direction's pending open request back, or asks for
  // the window with this direction's own bit.
  void CancelOrRequestOpen(int own, int opposite);

  // ---- the watchdog and the reactions (MainWatchdog.cpp, MainReactions.cpp)
 public:
  // The watchdog's second: the start phase of the first six ticks, then the
  // ticks since the last received text: the data's state at the first, the
  // link lost at the fourth (serial; USB closes and retries), the device
  // state unknown at every fifth from the tenth on.
  void TimerConnectionTimer(vcl::TObject* sender);
  // The delay after the first pending window-open request is over: the
  // window is shown or brought to the front, and nothing is pending any more.
  void TimerOpenTimer(vcl::TObject* sender);
  // Makes the window the foreground window, also when another program's is.
  void BringToForeground();
  // The program timers: each stops and starts its event's command line.
  void TimerAppStartTimer(vcl::TObject* sender);
  void TimerVerbindungTimer(vcl::TObject* sender);
  void TimerAlarmTimer(vcl::TObject* sender);
  void TimerAkkuTimer(vcl::TObject* sender);
  void TimerOver85Timer(vcl::TObject* sender);
  void TimerUnder85Timer(vcl::TObject* sender);

 private:
  // The watchdog's first six ticks: the window hidden at the fifth when all
  // is well, the version in the caption at the sixth.
  void RunStartPhase();
  // No text for four seconds (serial) or four USB retries.
  void DeclareLinkLost();
  // Long silence: the device's state is no longer known.
  void MarkSilence();

  // ---- the shutdown sequence (MainShutdown.cpp)
 public:
  // The battery time is over: the module is told and Windows shut down, or
  // only Windows shut down, as the settings say. A module with 42-character
  // frames is told again every 2 s or longer until it acknowledges.
  void TimerShutDownTimer(vcl::TObject* sender);
  void SendSerialShutdownCommand();
  // The process at high priority, the load logged, and the pulse train on RTS.
  void StartShutdownPulse();
  // A pulse train is over (main thread): Windows is shut down unless the
  // module acknowledges by itself.
  void PulseTrainDone(bool done);
  // Stops a pulse train and joins its thread; before any close of the serial
  // link and before the end.
  void StopShutdownPulse();
  // Closes the links and asks the system to shut down (the force bit or-ed
  // into [CHECK] ShutDownFlag). Never re-entered: a call during its own
  // close waits is dropped.
  void ShutdownWindows();
  // At start: the shutdown privilege, and the process's place in the
  // system's shutdown order from [CHECK] ExtShutdownPosition.
  void PrepareShutdown();

 private:
  bool shuttingDown_ = false;
  uint64_t pulseTrains_ = 0;

  // ---- the USB link (MainUsbLink.cpp)
 public:
  // Opens the module among the FTDI devices (the first whose description
  // holds "KORVA") and starts polling it; on an open device, stops its
  // polling or starts it again. Failures go to the status bar; the open
  // failure to the history once per run, after the watchdog's fourth retry.
  void OpenUsbLink();
  // After half a second, stops the polling thread and closes the device.
  // Texts of the link from now on are dropped.
  void CloseUsbLink();
  // A text the polling thread read: parsed, and evaluated unless an
  // evaluation runs. Main thread.
  void UsbTextReceived(const std::string& text);
  // The shutdown command over USB: 'R' at the battery time's end, 'S' at the
  // end of the session; as often as the dialog's repeat count says, each
  // byte after a frame answered the one before.
  void SendUsbShutdownCommand();
  void SendUsbShutdownAtEndSession();
  // WM_QUERYENDSESSION: the session-end command when the dialog asks for it
  // and the timer has not sent one. The session may always end.
  void WMQueryEndSession(vcl::TMessage& message);

  // The running polling thread; null when none.
  std::unique_ptr<TUSB_Status> UsbThread;

 private:
  void StartUsbThread();
  void StopUsbThread();
  void SendUsbCommand(char command, uint32_t label);
  uint64_t usbLinks_ = 0;
};

// The main window while it exists.
extern TfrmKorvamon* frmKorvamon;

}  // namespace monitor
