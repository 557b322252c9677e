// The main window's USB link: finding the module among the attached FTDI
// devices and opening it, the polling thread's texts evaluated on the main
// thread, closing the link, and the shutdown command over USB (the timer's
// 'R' and the session end's 'S').
#include <string>

#include "monitor/D2XXUnit.h"
#include "monitor/Globfunc.h"
#include "monitor/ReactionSwitches.h"
#include "monitor/USB_Status.h"
#include "monitor/config.h"
#include "monitor/main.h"
#include "platform/EventLoop.h"
#include "platform/Services.h"
#include "platform/Sound.h"

namespace monitor {
namespace {

constexpr const char* kUsbName = "USB";
// Every description with this word is the module's ("KORVA DI-ZOD 6", "15", "40").
constexpr const char* kModuleWord = "KORVA";
// CloseUsbLink lets the polling thread finish its cycle first.
constexpr uint16_t kCloseWaitMs = 500;

// The shutdown command: its timeouts, and how long it waits for a frame
// between two bytes.
constexpr uint32_t kCommandTimeoutMs = 1000;
constexpr uint32_t kReplyStepMs = 100;
constexpr int kReplySteps = 20;
constexpr char kTimerCommand = 'R';
constexpr char kSessionEndCommand = 'S';

}  // namespace

void TfrmKorvamon::OpenUsbLink() {
  UsbMode = true;
  const std::string name = kUsbName;
  vcl::TStatusPanel& panel = StatBar->Panels()[0];
  if (FtStatus == FT_OK && FtHandle.load()) {
    // An open device: the call switches its polling off or on.
    if (UsbThread) {
      CloseUsbLink();
      panel.SetText(GetLangString(56) + name + GetLangString(59));
    } else {
      StartUsbThread();
      panel.SetText(GetLangString(56) + name + GetLangString(57));
    }
    return;
  }

  std::optional<uint32_t> taken;
  FtDeviceInfo info;
  const uint32_t count = FtDeviceCount();
  for (uint32_t index = 0; index < count && !taken; ++index) {
    info = {};
    FtGetDeviceInfo(index, info);
    if (info.description.find(kModuleWord) != std::string::npos)
      taken = index;
  }
  if (!taken) {
    const std::string text = FtErrorText("List_USB_Devices", FT_DEVICE_NOT_FOUND);
    panel.SetText(text);
    if (!text.empty())
      LogHistory(text);
  } else {
    if (frmConfig)
      frmConfig->chkWinShutdown->SetEnabled(true);
    FtStatus = FtOpenBySerial(*taken);
  }

  // The device shown is the one connected: none while no open succeeds.
  const bool opened = FtStatus == FT_OK && FtHandle.load();
  lblDevice->SetCaption(opened ? info.description : "");
  DeviceName = lblDevice->Caption();
  if (!opened) {
    StopUsbThread();
    platform::sound().MessageBeep(0);
    panel.SetText(GetLangString(56) + name + GetLangString(58) + " " + GetLangString(64) +
                  FtStatusName(FtStatus));
    if (!UsbOpenErrorLogged && UsbRetries >= kUsbRetriesLost) {
      LogHistory(panel.Text());
      UsbOpenErrorLogged = true;
    }
    return;
  }
  FtResetDevice();
  FtClrRts();
  FtClrDtr();
  StartUsbThread();
  panel.SetText(GetLangString(56) + name + GetLangString(57));
}

void TfrmKorvamon::CloseUsbLink() {
  auto open = [] { return FtStatus == FT_OK && FtHandle.load(); };
  if (!open())
    return;
  // What the thread read from now on is of a closed link.
  ++usbLinks_;
  DelayMs(kCloseWaitMs);
  // Closed meanwhile, by what the wait handled.
  if (!open())
    return;
  // The thread must not call the library once the device is closed.
  StopUsbThread();
  FtClose();
  FtStatus = FT_DEVICE_NOT_OPENED;
  FtHandle = nullptr;
  if (UsbRetries >= kUsbRetriesLost) {
    lblDevice->SetCaption("");
    DeviceName.clear();
    vcl::TStatusPanel& panel = StatBar->Panels()[0];
    panel.SetText(GetLangString(56) + kUsbName + GetLangString(61));
    LogHistory(panel.Text());
  }
}

void TfrmKorvamon::StartUsbThread() {
  StopUsbThread();
  // Texts of this link only: one that arrives after it closed is dropped.
  const uint64_t link = ++usbLinks_;
  const vcl::TWindowHandle window = Handle();
  TUSB_Status::Handlers handlers;
  handlers.ShowStatus = [window](const std::string& text) {
    PostToMainWindow(window, [text](TfrmKorvamon& main) {
      main.StatBar->Panels()[0].SetText(text);
      main.LogHistory(text);
    });
  };
  handlers.Received = [window, link](const std::string& text) {
    PostToMainWindow(window, [text, link](TfrmKorvamon& main) {
      if (main.UsbThread && main.usbLinks_ == link)
        main.UsbTextReceived(text);
    });
  };
  UsbThread = std::make_unique<TUSB_Status>(std::move(handlers), ReplySeen);
}

void TfrmKorvamon::StopUsbThread() {
  StopThread(UsbThread);
}

void TfrmKorvamon::UsbTextReceived(const std::string& text) {
  if (ParseFrame(text) && !Evaluating)
    EvaluateFrameUsb();
}

// ---------------------------------------------------------------- the shutdown command

void TfrmKorvamon::SendUsbShutdownCommand() {
  SendUsbCommand(kTimerCommand, 142);
}

void TfrmKorvamon::SendUsbShutdownAtEndSession() {
  SendUsbCommand(kSessionEndCommand, 144);
}

void TfrmKorvamon::SendUsbCommand(char command, uint32_t label) {
  const int32_t repeats = CurrentReactionSwitches().shutdownRepeat;
  int sent = 0;
  int64_t lastWritten = -1;
  FT_STATUS status = FtSetTimeouts(kCommandTimeoutMs, kCommandTimeoutMs);
  if (status == FT_OK) {
    lastWritten = 0;
    status = FtSetDtr();
    for (int32_t i = 1; status == FT_OK && i <= repeats; ++i) {
      ReplySeen = false;
      lastWritten = FtWrite(std::string(1, command));
      if (lastWritten > 0)
        ++sent;
      if (i == repeats)
        break;
      // The module answers with its frames: no frame, no more bytes. The
      // polling thread sees them while this thread sleeps.
      for (int step = 0; step < kReplySteps && !ReplySeen; ++step)
        platform::MainLoop().Sleep(kReplyStepMs);
      if (!ReplySeen)
        break;
    }
    LogHistory(GetLangString(label) + GetLangString(143) + std::to_string(sent) + "/" +
               std::to_string(repeats));
  }
  if (status != FT_OK) {
    vcl::TStatusPanel& panel = StatBar->Panels()[0];
    panel.SetText(GetLangString(56) + "USB: " + GetLangString(52));
    LogHistory(panel.Text() + " CountSend: " + std::to_string(lastWritten) +
               "; Result: " + std::to_string(status));
  }
}

void TfrmKorvamon::WMQueryEndSession(vcl::TMessage& message) {
  if (CurrentReactionSwitches().windowsShutdownSignal && UsbMode && !UsbShutdownSent)
    SendUsbShutdownAtEndSession();
  // The session may always end.
  message.Result = 1;
}

}  // namespace monitor
