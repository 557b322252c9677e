// The main window's serial link: SComm and its set-up, opening and closing
// the port with their status-bar reports, the port's events (a frame ready
// to be read, line errors, the port broken), and the watchdog's help for
// ports that break or never announce a frame.
#include <cstdio>

#include "monitor/Globfunc.h"
#include "monitor/main.h"
#include "platform/MessageBoxes.h"
#include "platform/Services.h"
#include "platform/Sound.h"

namespace monitor {
namespace {

// The queue is read once it holds two frames of the longest kind.
constexpr uint32_t kFrameBlockBytes = 84;
// What the serial link can tell of the device before a long frame names it.
constexpr const char* kSerialDeviceName = "KORVA DI-ZOD 6 / 15 ";
// CloseSerialLink gives the port this long to let go.
constexpr uint16_t kCloseWaitMs = 1000;
// A driver that never announces the line feed is read by the watchdog from
// its second silent tick on.
constexpr int kTicksWithoutEventChar = 2;

// The error bits in the order their names are reported.
struct CommErrorName {
  uint32_t bit;
  const char* name;
};
constexpr CommErrorName kCommErrorNames[] = {
    {platform::CE_FRAME, "CE_FRAME"},     {platform::CE_RXPARITY, "CE_RXPARITY"},
    {platform::CE_OVERRUN, "CE_OVERRUN"}, {platform::CE_RXOVER, "CE_RXOVER"},
    {platform::CE_TXFULL, "CE_TXFULL"},   {platform::CE_BREAK, "CE_BREAK"},
    {platform::CE_IOE, "CE_IOE"},         {platform::CE_MODE, "CE_MODE"}};

std::string CommErrorNames(uint32_t errors) {
  std::string names;
  for (const CommErrorName& entry : kCommErrorNames) {
    if (errors & entry.bit)
      names += entry.name;
  }
  return names;
}

// A handle as eight upper-case hexadecimal digits (the invalid one is FFFFFFFF).
std::string HandleHex(intptr_t handle) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(handle & 0xFFFFFFFF));
  return text;
}

void Beep() {
  platform::sound().MessageBeep(0);
}

}  // namespace

void TfrmKorvamon::BuildSerialLink() {
  SComm = new TSerial(this);
  SComm->SetName("SComm");
  SComm->Baudrate = br_009600;
  SComm->DataBits = db_8;
  SComm->SetParityBit(TParityBit::none);
  SComm->StopBits = sb_1;
  SComm->HandshakeRtsCts = true;
  SComm->EventChar = '\n';
  SComm->SetBufSizeRec(512);
  SComm->SetBufSizeTrm(128);
  SComm->RTSActive = true;
  // The event mask follows these two; WMSerialEvent calls the handlers.
  SComm->OnError = [this](vcl::TObject* sender) { SCommError(sender, SComm->CommError()); };
  SComm->OnEventChar = [this](vcl::TObject* sender) { SCommEventChar(sender); };
}

void TfrmKorvamon::OpenSerialLink(int32_t port) {
  UsbMode = false;
  edRead->Clear();

  SComm->FirstPort(false);
  if (SComm->Ports().empty()) {
    platform::messageBoxes().Show(GetLangString(50) + "\r\n" + GetLangString(51),
                                  vcl::Application().Title(),
                                  platform::kMbOk | platform::kMbIconInformation);
    StatBar->SetSimpleText(GetLangString(50));
    return;
  }

  SComm->SetCOMPort(port);
  if (SComm->COMPort() == 0 && port >= 1)
    throw ELinkError(GetLangString(53) + std::to_string(port) + GetLangString(54));

  const std::string name = "COM" + std::to_string(SComm->COMPort());
  vcl::TStatusPanel& panel = StatBar->Panels()[0];
  if (SComm->Active()) {
    Beep();
    panel.SetText(GetLangString(56) + name + GetLangString(59));
    return;
  }
  SerialBroken = false;
  if (!OpenSerialPort())
    Beep();
}

bool TfrmKorvamon::OpenSerialPort() {
  const std::string name = "COM" + std::to_string(SComm->COMPort());
  vcl::TStatusPanel& panel = StatBar->Panels()[0];
  TicksWithoutEventChar = 0;
  if (SComm->Open(true)) {
    ClearSerialRx();
    panel.SetText(GetLangString(56) + name + GetLangString(57));
    lblDevice->SetCaption(kSerialDeviceName);
    DeviceName = kSerialDeviceName;
    return true;
  }
  panel.SetText(GetLangString(56) + name + GetLangString(58) + " Handle=$" +
                HandleHex(SComm->Handle()));
  return false;
}

void TfrmKorvamon::SCommBroken(vcl::TObject*) {
  // A stale report of a port closed or opened anew since is not this one's.
  if (!SComm->Broken())
    return;
  // A port that still answers lost only its wait (a driver that cannot wait
  // on this line): the watchdog reads it. One that does not answer is gone.
  uint32_t inQueue = 0;
  uint32_t outQueue = 0;
  if (!SComm->GetQueueCounts(inQueue, outQueue))
    SerialBroken = true;
}

void TfrmKorvamon::ReopenSerialLink() {
  SComm->Close();
  if (OpenSerialPort()) {
    SerialBroken = false;
    return;
  }
  // A long outage would fill the log: its first failure says it all.
  if (!SerialReopenLogged) {
    SerialReopenLogged = true;
    const std::string name = "COM" + std::to_string(SComm->COMPort());
    LogHistory(GetLangString(56) + name + GetLangString(58) + " " + SComm->LastSystemErrorText());
  }
}

void TfrmKorvamon::ReadWithoutEventChar() {
  if (UsbMode || SerialBroken || !SComm->Active())
    return;
  if (TicksWithoutEventChar < kTicksWithoutEventChar)
    ++TicksWithoutEventChar;
  if (TicksWithoutEventChar < kTicksWithoutEventChar)
    return;
  uint32_t inQueue = 0;
  uint32_t outQueue = 0;
  if (!SComm->GetQueueCounts(inQueue, outQueue)) {
    // Without its event thread nobody else would notice that it is gone.
    SerialBroken = SComm->Broken();
    return;
  }
  if (inQueue >= kFrameBlockBytes)
    SCommEventChar(this);
}

void TfrmKorvamon::CloseSerialLink() {
  // A pulse train toggles RTS on this port: it ends before the port does.
  StopShutdownPulse();
  // Closed on purpose: not for the watchdog to open again.
  SerialBroken = false;
  const int port = SComm->COMPort();
  if (port <= 0)
    return;
  const std::string name = "COM" + std::to_string(port);
  vcl::TStatusPanel& panel = StatBar->Panels()[0];
  if (SComm->Active()) {
    edRead->Clear();
    panel.SetText(GetLangString(60));
    SComm->Close();
    DelayMs(kCloseWaitMs);
    if (SComm->Active()) {
      Beep();
      panel.SetText(GetLangString(56) + name + GetLangString(62));
    } else {
      panel.SetText(GetLangString(56) + name + GetLangString(61));
    }
  } else {
    Beep();
    panel.SetText(GetLangString(56) + name + GetLangString(63));
  }
  LogHistory(panel.Text());
}

void TfrmKorvamon::SCommEventChar(vcl::TObject*) {
  // Fewer characters stay queued for the next line feed.
  if (SComm->InQueCount() < kFrameBlockBytes)
    return;
  std::string text;
  SComm->ReadStr(text);
  if (!ParseFrame(text)) {
    ClearSerialRx();
    return;
  }
  // A frame that arrives while an evaluation runs is parsed, not evaluated.
  if (!Evaluating)
    EvaluateFrameSerial(FrameText);
}

void TfrmKorvamon::SCommError(vcl::TObject*, uint32_t errors) {
  const std::string names = CommErrorNames(errors);
  if (names.empty())
    return;
  const std::string text = "COMMERROR: " + names;
  LogHistory(text);
  edRead->SetText(text);
}

bool TfrmKorvamon::ClearSerialRx() {
  if (!SComm || !SComm->Active())
    return false;
  if (SComm->Purge(platform::PURGE_RXCLEAR))
    return true;
  const std::string text = "CommRXClear: " + SComm->LastSystemErrorText();
  LogHistory(text);
  edRead->SetText(text);
  return false;
}

}  // namespace monitor
