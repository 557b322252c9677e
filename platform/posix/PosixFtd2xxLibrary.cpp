#include <cstdlib>
#include <string>

#include "platform/Files.h"
#include "platform/Ftd2xxLibrary.h"
#include "platform/Services.h"

namespace platform {

DynamicLibrary OpenFtd2xx() {
  constexpr const char* kName = "libftd2xx.so";
  if (const char* named = std::getenv("KORVA_FTD2XX"); named && *named)
    return DynamicLibrary::Open(named);
  const std::string program = files().ExecutablePath();
  const std::string own = program.substr(0, program.find_last_of('/') + 1) + kName;
  if (DynamicLibrary library = DynamicLibrary::Open(own))
    return library;
  return DynamicLibrary::Open(kName);
}

}  // namespace platform
