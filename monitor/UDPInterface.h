// Unit UDPInterface: the data module of the UDP interface, created at the
// start after the about box. Started with two parameters (receive port, send
// port), korvamon listens on the receive port for "USV_CLOSE",
// "USV_TRACE_START" and "USV_TRACE_STOP", and sends every history line to
// each trace listener at its address and the send port.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "monitor/UdpServer.h"
#include "vcl/Classes.h"

namespace monitor {

// The ports when a parameter is not a number.
inline constexpr int32_t kDefaultRXPort = 17408;
inline constexpr int32_t kDefaultTXPort = 17409;
// Only the first bytes of a datagram count.
inline constexpr size_t kUdpBufferSize = 128;

class TdmUDP : public vcl::TComponent {
 public:
  explicit TdmUDP(vcl::TComponent* owner);
  ~TdmUDP() override;
  // The destruction handler runs first, while the module is whole.
  void BeforeDestruction() override;

  int32_t RXPort = 0;
  int32_t TXPort = 0;
  // Owned; null without two parameters, or when the receive port could not
  // be bound.
  TUdpServer* UDPServer = nullptr;
  // The trace listeners' addresses in the order they registered.
  std::vector<std::string> TracePeers;

  // The creation handler: with at least two parameters, the ports from them
  // and the server started.
  void dmUDPCreate(vcl::TObject* sender);
  // A new server on RXPort in place of the old one. A port that cannot be
  // bound is reported once, in the status bar and the history, and leaves
  // korvamon without a server; false then.
  bool StartUdpServer();
  // A datagram: its first 128 bytes up to a zero byte, upper-cased, searched
  // for the commands.
  void OnUdpRead(const std::string& data, const std::string& peer);
  // Registers `address` and confirms it with text 390; a listed one gets nothing.
  void TraceStart(const std::string& address);
  // Confirms with text 392 and removes `address`; an unlisted one gets nothing.
  void TraceStop(const std::string& address);
  // `text` as one datagram to address:TXPort. A failure shows text 394, once
  // per listener until a send to it succeeds again; nothing is retried.
  void SendUdpText(const std::string& text, const std::string& address);
  // Every history line to every listener, in their order.
  void SendToTracePeers(const std::string& line);
  // "RXPort: %d  TXPort: %d" in a message box.
  void ShowUdpPorts();
  void dmUDPDestroy(vcl::TObject* sender);

 private:
  // Listeners whose failed send has been reported and not yet followed by
  // a good one.
  std::set<std::string> failureShown_;
};

// "[dd:mm:yyyy hh:nn:ss]", a tab and text `number`: a trace confirmation.
std::string TraceConfirmation(uint32_t number);

// The UDP data module while it exists.
extern TdmUDP* dmUDP;

}  // namespace monitor
