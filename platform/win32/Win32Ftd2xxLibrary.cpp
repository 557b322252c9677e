#include "platform/Ftd2xxLibrary.h"

namespace platform {

DynamicLibrary OpenFtd2xx() {
  return DynamicLibrary::Open("ftd2xx.dll");
}

}  // namespace platform
