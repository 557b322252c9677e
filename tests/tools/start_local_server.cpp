// Starts a class's local server as COM does: the command line of its
// LocalServer32 key, with the given parameters after it, through
// CreateProcess without a separate program name, so the line alone decides
// which program runs. Prints the line, waits for the program (a minute at
// most) and ends with its exit code; 100 when it could not be started.
//
// usage: start_local_server {clsid} [parameter...]
#include <windows.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: start_local_server {clsid} [parameter...]\n");
    return 100;
  }
  const std::string key = std::string("CLSID\\") + argv[1] + "\\LocalServer32";
  char command[2 * MAX_PATH] = {};
  DWORD size = sizeof command;
  if (RegGetValueA(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, command,
                   &size) != ERROR_SUCCESS) {
    std::fprintf(stderr, "start_local_server: no %s\n", key.c_str());
    return 100;
  }
  std::string line = command;
  for (int i = 2; i < argc; ++i)
    line += std::string(" ") + argv[i];
  std::printf("start_local_server: %s\n", line.c_str());
  std::fflush(stdout);

  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    std::fprintf(stderr, "start_local_server: CreateProcess failed (%lu)\n", GetLastError());
    return 100;
  }
  DWORD code = 100;
  if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0)
    GetExitCodeProcess(process.hProcess, &code);
  else
    TerminateProcess(process.hProcess, 100);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(code);
}
