#include "platform/win32/SystemCalls.h"

namespace platform::win32 {

SystemCalls& systemCalls() {
  static SystemCalls calls;
  return calls;
}

}  // namespace platform::win32
