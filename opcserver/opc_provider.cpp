#include "opcserver/opc_provider.h"

#include <memory>

#include "opcserver/MonitorState.h"
#include "opcserver/ServerIdentity.h"

namespace opcserver {

TPsOPCProvider* OPCServer = nullptr;
TOPCProvider* OPCProvider = nullptr;

void CreateOPCServer() {
  if (OPCServer)
    return;
  auto server = std::make_unique<TPsOPCProvider>();
  server->SetActive(true);
  server->SetCLSID(kServerClassId);
  server->SetServerName(kServerName);
  server->Description = kServerDescription;
  server->Vendor = kServerVendor;
  server->VendorInfo = kServerVendorInfo;
  // The provider window builds its tree without them.
  server->AddressSpace().SetPropertyLeaves(true);
  server->Initialize();
  OPCServer = server.release();
}

void FreeOPCServer() {
  delete OPCServer;
  OPCServer = nullptr;
}

TOPCProvider::TOPCProvider(vcl::TComponent* owner, TPsOPCProvider* server)
    : vcl::TForm(owner, "TOPCProvider"), server_(server ? server : OPCServer) {
  SetName("OPCProvider");
  SetCaption("OPCProvider");
  auto text = [this](const char* name, const char* caption, int32_t id) {
    auto* variable = new toolkit::TPsString(this);
    variable->SetName(name);
    variable->SetCaption(caption);
    variable->SetID(id);
    return variable;
  };
  auto number = [this](const char* name, const char* caption, int32_t id) {
    auto* variable = new toolkit::TPsInteger(this);
    variable->SetName(name);
    variable->SetCaption(caption);
    variable->SetID(id);
    // No range: every status and connection word is a value.
    variable->SetRangeMode(toolkit::rmNone);
    variable->SetRangeMin(0);
    variable->SetRangeMax(-1);
    return variable;
  };
  auto flag = [this](const char* name, const char* caption, int32_t id) {
    auto* variable = new toolkit::TPsBool(this);
    variable->SetName(name);
    variable->SetCaption(caption);
    variable->SetID(id);
    variable->SetAlarmStateFalse(toolkit::asNormal);
    variable->SetAlarmStateTrue(toolkit::asNormal);
    return variable;
  };
  PslastMessage = text("PslastMessage", "PslastMessage", 1);
  PsDevice = text("PsDevice", "PsDevice", 2);
  PsStatus = number("PsStatus", "Status", 3);
  PsBAT = flag("PsBAT", "BAT", 4);
  PsALARM = flag("PsALARM", "ALARM", 5);
  PsBAT85 = flag("PsBAT85", "BAT85", 6);
  PsDCOK = flag("PsDCOK", "DCOK", 7);
  PsReceive = text("PsReceive", "Receive", 8);
  // The same number as PsDCOK: nothing reads it.
  PsAKKU = flag("PsAKKU", "AKKU", 7);
  PsConnection = number("PsConnection", "Connection", 10);

  TimerScan = new vcl::TTimer(this);
  TimerScan->SetName("TimerScan");
  TimerScan->SetInterval(100);
  // The monitor's state changes only in the main thread's work: the scan
  // needs no wake of its own while there was none since the last scan, and
  // rides along with the work that comes (the link's blocks, about every
  // 100 ms). A change reaches the variables, with its time stamp, at once
  // or within 100 ms; an unchanged value keeps its time stamp.
  TimerScan->SetTolerance(99);
  TimerScan->SetRestsWhileIdle(true);
  TimerScan->SetOnTimer([this](vcl::TObject* sender) { TimerScanTimer(sender); });

  OnCreate = [this](vcl::TObject* sender) { FormCreate(sender); };
  OnDestroy = [this](vcl::TObject* sender) { FormDestroy(sender); };
}

TOPCProvider::~TOPCProvider() {
  if (OPCProvider == this)
    OPCProvider = nullptr;
}

void TOPCProvider::FormCreate(vcl::TObject* /*sender*/) {
  if (server_)
    // Clients read the module's state; none writes it.
    server_->OnGetAccessRights = [](vcl::TObject*, vcl::TComponent*,
                                    toolkit::TPsVarPropType varProp, DWORD& accessRights) {
      if (varProp == toolkit::vpValue)
        accessRights = OPC_READABLE;
    };
  PsBAT->SetDescription("true in buffering mode");
  PsDCOK->SetDescription("true if input voltage available");
  PsALARM->SetDescription("true if buffer not ready");
  PsBAT85->SetDescription("true if battery charge condition > 85%");
  PsAKKU->SetDescription("true if battery replacement necessary");
  PsDevice->SetDescription("connected Korva UPS device");
  BuildAddressSpace();
}

void TOPCProvider::FormDestroy(vcl::TObject* /*sender*/) {
  if (server_)
    server_->OnGetAccessRights = nullptr;
}

void TOPCProvider::TimerScanTimer(vcl::TObject* /*sender*/) {
  CopyMonitorState();
}

void TOPCProvider::BuildAddressSpace() {
  if (!server_)
    return;
  TPsOPCProviderAddressSpace& space = server_->AddressSpace();
  space.SetAutoAddModules(false);
  space.SetWatchComponents(false);
  space.SetPathSeparator('/');
  space.SetPropertyLeaves(false);
  const int korva = space.AddModule(this, -1, false, "Korva");
  const std::pair<toolkit::TPsVar*, const char*> leaves[] = {{PsDevice, "Device"},
                                                             {PslastMessage, "last_Message"},
                                                             {PsReceive, "Received"},
                                                             {PsStatus, "Status"},
                                                             {PsConnection, "Connection"},
                                                             {PsDCOK, "DC_OK"},
                                                             {PsBAT, "BAT"},
                                                             {PsBAT85, "BAT85"},
                                                             {PsALARM, "ALARM"},
                                                             {PsAKKU, "AKKU"}};
  for (const auto& [variable, name] : leaves)
    space.AddVariable(korva, variable, name);
}

void TOPCProvider::CopyMonitorState() {
  // Copies of the texts each tick; the setters compare and announce only
  // what changed.
  TMonitorState& state = monitorState_;
  if (!ReadMonitorState(state))
    return;
  const int32_t status = state.StatusWord;
  const int32_t connection = state.ConnectionWord;
  PsDevice->SetValue(state.DeviceName);
  PslastMessage->SetValue(state.LastMessage);
  PsStatus->SetValue(status);
  PsConnection->SetValue((connection & 0x500) != 0 ? 0 : (connection & 0x200) != 0 ? 2 : 1);
  PsBAT->SetValue((status & 0x400) != 0);
  PsBAT85->SetValue((status & 0x2) != 0);
  PsALARM->SetValue((status & 0x5000) != 0);
  PsDCOK->SetValue((status & 0x20) != 0);
  PsAKKU->SetValue((status & 0x4000) != 0);
  PsReceive->SetValue(state.ReceivedText);
}

}  // namespace opcserver
