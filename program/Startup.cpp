#include "program/Startup.h"

#include "monitor/DeviceList.h"
#include "monitor/History.h"
#include "monitor/Info.h"
#include "monitor/UDPInterface.h"
#include "monitor/config.h"
#include "monitor/main.h"
#include "opcserver/PsComUtils.h"
#include "opcserver/PsConnectors.h"
#include "opcserver/opc_provider.h"
#include "platform/com/Com.h"
#include "vcl/Forms.h"

namespace program {
namespace {

// COM was started for the process by StartOPCServer.
bool comStarted = false;

}  // namespace

void StartOPCServer() {
  // The multithreaded apartment before anything else of COM: the security
  // call and the class object need it, and COM's threads bring the calls.
  if (!comStarted)
    comStarted = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
  opcserver::RegisterConnectorClasses();
  opcserver::CreateOPCServer();
  opcserver::PsInitComSecurity(RPC_C_AUTHN_LEVEL_NONE, RPC_C_IMP_LEVEL_IDENTIFY);
  opcserver::OPCServer->Factory().RegisterClassObject();
}

void CreateProgramWindows() {
  vcl::TApplication& application = vcl::Application();
  application.MainFormOnTaskbar = true;
  application.SetTitle(monitor::kApplicationTitle);
  application.CreateForm(monitor::frmKorvamon);
  application.CreateForm(monitor::frmConfig);
  application.CreateForm(monitor::frmHist);
  application.CreateForm<monitor::TfrmInfo>();
  monitor::dmUDP = new monitor::TdmUDP(&application);
  vcl::Guarded([] { monitor::dmUDP->dmUDPCreate(monitor::dmUDP); });
  application.CreateForm(monitor::frmDeviceList);
  application.CreateForm(opcserver::OPCProvider);
}

void RunProgram() {
  vcl::Application().Run();
}

void EndProgram() {
  // No COM thread may reach the provider window's variables once they are
  // freed: the server stops serving them first.
  if (opcserver::OPCServer) {
    opcserver::OPCServer->Shutdown("");
    opcserver::OPCServer->Factory().RevokeClassObject();
    opcserver::OPCServer->WaitForCalls();
  }
  vcl::Application().Done();
  opcserver::FreeOPCServer();
  if (comStarted) {
    CoUninitialize();
    comStarted = false;
  }
  monitor::ReleaseSingleInstanceMutex();
}

void DeliverInstanceRequest(const std::string& formClass, uint32_t msg, uintptr_t wParam,
                            intptr_t lParam) {
  vcl::TApplication& application = vcl::Application();
  for (int i = 0; i < application.ComponentCount(); ++i) {
    auto* form = dynamic_cast<vcl::TForm*>(application.Components(i));
    if (form && form->ClassName() == formClass) {
      vcl::SendMessage(form->Handle(), msg, wParam, lParam);
      return;
    }
  }
}

void EndSessionOnRequest() {
  if (!monitor::frmKorvamon) {
    CloseOnRequest();
    return;
  }
  const vcl::TWindowHandle window = monitor::frmKorvamon->Handle();
  const bool mayEnd = vcl::SendMessage(window, vcl::WM_QUERYENDSESSION, 0, 0) != 0;
  vcl::SendMessage(window, vcl::WM_ENDSESSION, mayEnd ? 1 : 0, 0);
}

void CloseOnRequest() {
  if (monitor::frmKorvamon) {
    monitor::frmKorvamon->Close();
  } else {
    vcl::Application().Terminate();
  }
}

}  // namespace program
