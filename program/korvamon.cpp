// korvamon: the monitor program's entry. One instance at a time: a later one
// asks whether to show the running one and ends. Otherwise the application
// and its windows are created and the message loop runs until the main window
// closes, by its own commands or when the system asks the program to end.
#include <memory>
#include <optional>
#include <sstream>

#include "monitor/PDH.h"
#include "monitor/main.h"
#include "opcserver/ComServer.h"
#include "opcserver/OPCDA.h"
#include "opcserver/ServerProcess.h"
#include "opcserver/ServerRegistration.h"
#include "platform/CommandLine.h"
#include "platform/Instance.h"
#include "platform/StarterMessage.h"
#include "platform/System.h"
#include "program/Startup.h"
#include "toolkit/Toolkit.h"
#include "vcl/Backend.h"

#ifdef _WIN32
#include "platform/win32/vcl/Win32Backend.h"
#endif

int main(int argc, char** argv) {
  platform::KeepCommandLine(argc, argv);
  // The OPC data streams' formats, registered before anything else.
  opcserver::RegisterClipboardFormats();
  // "/RegServer" and "/UnregServer" register or unregister the OPC server and
  // end the program before any window, also while another instance runs
  // (whose guard would end this one without a word). Why they failed reaches
  // whoever started the program, also from Explorer.
  std::ostringstream registrationErrors;
  if (const std::optional<int> registered = opcserver::RunRegistrationSwitches(
          &opcserver::UpdateKorvaServerRegistry, registrationErrors)) {
    if (!registrationErrors.str().empty())
      platform::TellStarter(registrationErrors.str(), "korvamon");
    return *registered;
  }
#ifdef _WIN32
  // Real windows, tray icon and hot key; installed before any window exists.
  const std::unique_ptr<vcl::Backend> windows = vcl::win32::NewBackend();
  vcl::SetBackend(windows.get());
#endif

  // Bound before the guard, as the program's units start.
  monitor::LoadPdh();
  // Started by COM for a client, korvamon that meets another (of another
  // user, or one still starting) ends without asking: its client gets COM's
  // failure instead of waiting on a question nobody sees.
  const bool startedByCom = opcserver::StartedByCom();
  const bool firstInstance = monitor::PassSingleInstanceGuard(
      startedByCom ? monitor::SecondInstance::EndAtOnce : monitor::SecondInstance::Ask);
  if (firstInstance) {
    toolkit::Initialize();
    // Started by COM for a client, korvamon ends when its last client has gone.
    if (startedByCom)
      opcserver::EndProgramWhenLastClientLeaves();
    program::StartOPCServer();
    platform::OnTerminationRequest(&program::CloseOnRequest);
    platform::OnSessionEndRequest(&program::EndSessionOnRequest);
    // Later instances reach this one; on Windows they find its window by itself.
    const std::unique_ptr<platform::InstanceRequests> requests = platform::InstanceRequests::Listen(
        monitor::kApplicationTitle, &program::DeliverInstanceRequest);
    program::CreateProgramWindows();
    program::RunProgram();
  }
  program::EndProgram();
  if (firstInstance)
    toolkit::Finalize();

#ifdef _WIN32
  vcl::SetBackend(nullptr);
#endif
  return 0;
}
