// The stand-in knows no message texts: callers fall back to their own.
#include "platform/com/Com.h"

namespace platform::com {

std::string SystemMessageText(HRESULT) {
  return {};
}

}  // namespace platform::com
