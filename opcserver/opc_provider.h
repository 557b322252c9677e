// Unit opc_provider: the OPC provider window, a hidden window that carries
// the monitor's state over to the OPC server, and the server object of the
// process with korvamon's identity. The window holds the ten variables the
// server serves, builds the server's address space from them ("Korva" and
// its ten leaves), copies the main window's state into them every 100 ms
// and keeps every value read-only for clients. The monitor never calls it.
#pragma once

#include "opcserver/MonitorState.h"
#include "opcserver/PsOPCProvider.h"
#include "toolkit/PsVarsBasic.h"
#include "vcl/ExtCtrls.h"
#include "vcl/Forms.h"

namespace opcserver {

// The server object while it exists.
extern TPsOPCProvider* OPCServer;

// Makes the server object with korvamon's identity (ServerIdentity.h) (not running yet: it
// runs once the event loop handles its first messages). Once, at the start.
void CreateOPCServer();
// Frees it (a shutdown first, when none ran). At the end.
void FreeOPCServer();

class TOPCProvider : public vcl::TForm {
 public:
  // Serves `server`, by default the process's one (OPCServer).
  explicit TOPCProvider(vcl::TComponent* owner, TPsOPCProvider* server = nullptr);
  ~TOPCProvider() override;

  // ---- the ten variables, in their creation order
  toolkit::TPsString* PslastMessage;
  toolkit::TPsString* PsDevice;
  toolkit::TPsInteger* PsStatus;
  toolkit::TPsBool* PsBAT;
  toolkit::TPsBool* PsALARM;
  toolkit::TPsBool* PsBAT85;
  toolkit::TPsBool* PsDCOK;
  toolkit::TPsString* PsReceive;
  toolkit::TPsBool* PsAKKU;
  toolkit::TPsInteger* PsConnection;
  // 100 ms, up to 99 ms early in another wake; CopyMonitorState.
  vcl::TTimer* TimerScan;

  // The main window's state into the variables, each through its SetValue;
  // nothing without a main window. Main thread.
  void CopyMonitorState();
  // "Korva" at the root of the server's tree, the ten variables below it.
  void BuildAddressSpace();

 private:
  void FormCreate(vcl::TObject* sender);
  void FormDestroy(vcl::TObject* sender);
  void TimerScanTimer(vcl::TObject* sender);

  TPsOPCProvider* server_;
  // Kept between ticks: its texts' buffers are reused.
  TMonitorState monitorState_;
};

// The provider window while it exists.
extern TOPCProvider* OPCProvider;

}  // namespace opcserver
