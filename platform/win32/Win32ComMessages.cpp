// The system's message texts for result codes.
#include "platform/com/Com.h"

namespace platform::com {

std::string SystemMessageText(HRESULT code) {
  WCHAR text[1024] = {};
  const DWORD length =
      FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                     static_cast<DWORD>(code), 0, text, sizeof text / sizeof text[0], nullptr);
  WideView view(reinterpret_cast<const OLECHAR*>(text), length);
  while (!view.empty() && view.front() <= u' ')
    view.remove_prefix(1);
  while (!view.empty() && view.back() <= u' ')
    view.remove_suffix(1);
  return WideToUtf8(view);
}

}  // namespace platform::com
