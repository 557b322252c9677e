// The system's text for an error code, read once in UTF-16 and trimmed one
// way for every caller.
#include "platform/win32/Win32ErrorText.h"

#include <windows.h>

#include <memory>

#include "platform/Text.h"

namespace platform::win32 {
namespace {

struct LocalMemoryFree {
  void operator()(wchar_t* text) const { LocalFree(text); }
};

// Language 0: the thread's language, then the user's, the system's and
// English, so a code the system knows always has a text.
std::u16string SystemText(uint32_t code) {
  wchar_t* allocated = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&allocated), 0, nullptr);
  const std::unique_ptr<wchar_t, LocalMemoryFree> text(allocated);
  if (length == 0 || !text)
    return {};
  return std::u16string(reinterpret_cast<const char16_t*>(text.get()), length);
}

bool IsBlank(char16_t unit) {
  return unit <= u' ';
}

}  // namespace

std::u16string OneLineErrorText(std::u16string_view text, FinalPeriod period) {
  while (!text.empty() && IsBlank(text.front()))
    text.remove_prefix(1);
  while (!text.empty() &&
         (IsBlank(text.back()) || (period == FinalPeriod::Drop && text.back() == u'.')))
    text.remove_suffix(1);
  return std::u16string(text);
}

std::u16string ErrorTextUtf16(uint32_t code, FinalPeriod period) {
  return OneLineErrorText(SystemText(code), period);
}

std::string ErrorText(uint32_t code, FinalPeriod period) {
  return Utf16ToNarrow(ErrorTextUtf16(code, period));
}

}  // namespace platform::win32
