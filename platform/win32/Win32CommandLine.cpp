// The program's words on Windows: the process's command line, split here
// rather than by the C runtime, so quotes and backslashes mean what they mean
// to the class library's programs.
#include <windows.h>

#include "platform/CommandLine.h"

namespace platform {

void KeepCommandLine(int, const char* const*) {}

std::vector<std::string> NativeCommandLineWords() {
  const char* line = GetCommandLineA();
  return SplitCommandLine(line ? line : "");
}

}  // namespace platform
