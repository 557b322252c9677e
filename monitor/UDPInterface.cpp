#include "monitor/UDPInterface.h"

#include <algorithm>
#include <cstdio>

#include "monitor/Globfunc.h"
#include "monitor/lang.h"
#include "monitor/main.h"
#include "platform/MessageBoxes.h"
#include "platform/UdpSocket.h"
#include "platform/WallClock.h"
#include "vcl/Forms.h"
#include "vcl/Params.h"
#include "vcl/SysUtils.h"

namespace monitor {

TdmUDP* dmUDP = nullptr;

namespace {

constexpr uint32_t kTextTraceStarted = 390;
constexpr uint32_t kTextTraceStopped = 392;
constexpr uint32_t kTextSendFailed = 394;

constexpr std::string_view kClose = "USV_CLOSE";
constexpr std::string_view kTraceStart = "USV_TRACE_START";
constexpr std::string_view kTraceStop = "USV_TRACE_STOP";

// The command text of a datagram: bounded by the buffer, ended by the first
// zero byte, ASCII letters upper-cased.
std::string CommandText(const std::string& data) {
  const std::string_view text = std::string_view(data).substr(0, kUdpBufferSize);
  return vcl::UpperCase(text.substr(0, text.find('\0')));
}

void ReportInStatusBar(const std::string& text) {
  if (frmKorvamon && frmKorvamon->StatBar && frmKorvamon->StatBar->Panels().Count() > 0)
    frmKorvamon->StatBar->Panels()[0].SetText(text);
}

void LogHistory(const std::string& text) {
  if (frmKorvamon)
    frmKorvamon->LogHistory(text);
}

}  // namespace

std::string TraceConfirmation(uint32_t number) {
  const platform::LocalTime now = platform::wallClock().Now();
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "[%02d:%02d:%04d %02d:%02d:%02d]\t", now.day, now.month,
                now.year, now.hour, now.minute, now.second);
  // The texts hold no placeholder; they go out as the library has them.
  return stamp + GetLangString(number);
}

TdmUDP::TdmUDP(vcl::TComponent* owner) : vcl::TComponent(owner, "TdmUDP") {
  SetName("dmUDP");
}

TdmUDP::~TdmUDP() {
  if (dmUDP == this)
    dmUDP = nullptr;
}

void TdmUDP::BeforeDestruction() {
  dmUDPDestroy(this);
  vcl::TComponent::BeforeDestruction();
}

void TdmUDP::dmUDPCreate(vcl::TObject*) {
  if (vcl::ParamCount() < 2)
    return;
  RXPort = IntegerOr(vcl::ParamStr(1), kDefaultRXPort);
  TXPort = IntegerOr(vcl::ParamStr(2), kDefaultTXPort);
  StartUdpServer();
}

bool TdmUDP::StartUdpServer() {
  vcl::FreeAndNil(UDPServer);
  UDPServer = new TUdpServer(this);
  UDPServer->BufferSize = kUdpBufferSize;
  UDPServer->DefaultPort = RXPort;
  UDPServer->OnUDPRead = [this](const std::string& data, const std::string& peer) {
    OnUdpRead(data, peer);
  };
  uint32_t error = 0;
  if (UDPServer->Activate(error))
    return true;
  vcl::FreeAndNil(UDPServer);
  // The monitor goes on protecting the PC without the interface.
  const std::string report = "UDP receive port " + std::to_string(RXPort) +
                             " could not be opened: " + platform::SocketErrorText(error);
  ReportInStatusBar(report);
  LogHistory(report);
  return false;
}

void TdmUDP::OnUdpRead(const std::string& data, const std::string& peer) {
  // Once the program is ending, further commands have nothing left to act on.
  if (vcl::Application().Terminated())
    return;
  const std::string text = CommandText(data);
  if (text.find(kClose) != std::string::npos) {
    LogHistory("UDP-RX-Message from " + peer + ": " + std::string(kClose));
    if (frmKorvamon)
      frmKorvamon->Close();
  } else if (text.find(kTraceStart) != std::string::npos) {
    TraceStart(peer);
  } else if (text.find(kTraceStop) != std::string::npos) {
    TraceStop(peer);
  }
}

void TdmUDP::TraceStart(const std::string& address) {
  if (std::find(TracePeers.begin(), TracePeers.end(), address) != TracePeers.end())
    return;
  TracePeers.push_back(address);
  SendUdpText(TraceConfirmation(kTextTraceStarted), address);
}

void TdmUDP::TraceStop(const std::string& address) {
  const auto listed = std::find(TracePeers.begin(), TracePeers.end(), address);
  if (listed == TracePeers.end())
    return;
  SendUdpText(TraceConfirmation(kTextTraceStopped), address);
  // The box of a failed confirmation may have let other work run meanwhile.
  std::erase(TracePeers, address);
  failureShown_.erase(address);
}

void TdmUDP::SendUdpText(const std::string& text, const std::string& address) {
  if (!UDPServer)
    return;
  uint32_t error = 0;
  if (UDPServer->SendBuffer(address, TXPort, text, error)) {
    failureShown_.erase(address);
    return;
  }
  // Timers run on while the box is up, and each of their history lines
  // would fail again: one box per listener, until a send to it succeeds.
  if (!failureShown_.insert(address).second)
    return;
  platform::messageBoxes().Show(GetLangString(kTextSendFailed), vcl::Application().Title(),
                                platform::kMbOk | platform::kMbIconError);
}

void TdmUDP::SendToTracePeers(const std::string& line) {
  if (!UDPServer)
    return;
  // A copy: a failure's box lets commands change the list meanwhile.
  const std::vector<std::string> peers = TracePeers;
  for (const std::string& address : peers)
    SendUdpText(line, address);
}

void TdmUDP::ShowUdpPorts() {
  platform::messageBoxes().Show(
      "RXPort: " + std::to_string(RXPort) + "  TXPort: " + std::to_string(TXPort),
      vcl::Application().Title(), platform::kMbOk);
}

void TdmUDP::dmUDPDestroy(vcl::TObject*) {
  vcl::FreeAndNil(UDPServer);
  TracePeers.clear();
  failureShown_.clear();
}

}  // namespace monitor
