// The program's words on POSIX: the argv that main kept.
#include <mutex>

#include "platform/CommandLine.h"

namespace platform {
namespace {

std::mutex keptMutex;
std::vector<std::string>& Kept() {
  static std::vector<std::string> words;
  return words;
}

}  // namespace

void KeepCommandLine(int argc, const char* const* argv) {
  std::lock_guard lock(keptMutex);
  Kept().assign(argv, argv + (argc > 0 ? argc : 0));
}

std::vector<std::string> NativeCommandLineWords() {
  std::lock_guard lock(keptMutex);
  return Kept();
}

}  // namespace platform
