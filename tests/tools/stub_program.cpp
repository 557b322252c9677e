// A stand-in for a program that is to be started: it appends its own path to
// "started.log" in its folder, then runs until a file "release" appears
// there (a minute at most), so a test can see it started, and while it runs.
#include <windows.h>

#include <string>

int main() {
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH)
    return 1;
  std::string folder(path, length);
  folder.resize(folder.find_last_of('\\') + 1);

  const HANDLE log = CreateFileA((folder + "started.log").c_str(), FILE_APPEND_DATA,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
  if (log == INVALID_HANDLE_VALUE)
    return 1;
  const std::string line = std::string(path, length) + "\r\n";
  DWORD written = 0;
  WriteFile(log, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(log);

  const std::string release = folder + "release";
  for (int i = 0; i < 600 && GetFileAttributesA(release.c_str()) == INVALID_FILE_ATTRIBUTES; ++i)
    Sleep(100);
  return 0;
}
