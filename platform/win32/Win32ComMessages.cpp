// The system's message texts for result codes.
#include "platform/com/Com.h"
#include "platform/win32/Win32ErrorText.h"

namespace platform::com {

std::string SystemMessageText(HRESULT code) {
  const std::u16string text = win32::ErrorTextUtf16(static_cast<uint32_t>(code));
  return WideToUtf8(WideView(reinterpret_cast<const OLECHAR*>(text.data()), text.size()));
}

}  // namespace platform::com
