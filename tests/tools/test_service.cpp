// A service for the tests, to be installed as "Service_Korva": it goes
// through every state the service control manager reports, and stays in
// each pending one (starting, pausing, resuming, stopping) until the test
// sets the event "Global\KorvaTestServiceStep" (or a minute has passed),
// so that a test sees each state for as long as it needs.
#include <windows.h>

#include <atomic>

namespace {

constexpr DWORD kStepWaitMs = 60000;

SERVICE_STATUS_HANDLE statusHandle = nullptr;
HANDLE requested = nullptr;  // a control arrived (auto-reset)
std::atomic<DWORD> request{0};

void Report(DWORD state) {
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  const bool settled = state == SERVICE_RUNNING || state == SERVICE_PAUSED;
  status.dwControlsAccepted = settled ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE : 0;
  status.dwWaitHint = settled || state == SERVICE_STOPPED ? 0 : kStepWaitMs;
  SetServiceStatus(statusHandle, &status);
}

// Waits until the test lets the service take its next step.
void AwaitStep() {
  const HANDLE step = OpenEventA(SYNCHRONIZE, FALSE, "Global\\KorvaTestServiceStep");
  if (!step)
    return;
  WaitForSingleObject(step, kStepWaitMs);
  CloseHandle(step);
}

// The pending state is reported before the control's caller gets its answer;
// the service's own thread settles it.
DWORD WINAPI Handler(DWORD control, DWORD, void*, void*) {
  DWORD pending = 0;
  switch (control) {
    case SERVICE_CONTROL_PAUSE:
      pending = SERVICE_PAUSE_PENDING;
      break;
    case SERVICE_CONTROL_CONTINUE:
      pending = SERVICE_CONTINUE_PENDING;
      break;
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
      pending = SERVICE_STOP_PENDING;
      break;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
  Report(pending);
  request = control;
  SetEvent(requested);
  return NO_ERROR;
}

void WINAPI ServiceMain(DWORD, char** arguments) {
  statusHandle = RegisterServiceCtrlHandlerExA(arguments[0], Handler, nullptr);
  if (!statusHandle)
    return;
  Report(SERVICE_START_PENDING);
  AwaitStep();
  Report(SERVICE_RUNNING);
  for (;;) {
    WaitForSingleObject(requested, INFINITE);
    const DWORD control = request.exchange(0);
    AwaitStep();
    if (control == SERVICE_CONTROL_PAUSE) {
      Report(SERVICE_PAUSED);
    } else if (control == SERVICE_CONTROL_CONTINUE) {
      Report(SERVICE_RUNNING);
    } else if (control != 0) {
      Report(SERVICE_STOPPED);
      return;
    }
  }
}

}  // namespace

int main() {
  requested = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  char name[] = "Service_Korva";
  SERVICE_TABLE_ENTRYA services[] = {{name, &ServiceMain}, {nullptr, nullptr}};
  return StartServiceCtrlDispatcherA(services) ? 0 : 1;
}
