#include <cstdlib>
#include <string>

#include "platform/Files.h"
#include "platform/Ftd2xxLibrary.h"

namespace platform {

DynamicLibrary OpenFtd2xx() {
  constexpr const char* kName = "libftd2xx.so";
  if (const char* named = std::getenv("KORVA_FTD2XX"); named && *named)
    return DynamicLibrary::Open(named);
  if (DynamicLibrary library = DynamicLibrary::Open(ProgramFolder() + kName))
    return library;
  return DynamicLibrary::Open(kName);
}

}  // namespace platform
