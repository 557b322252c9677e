// On POSIX the narrow encoding is UTF-8: the COM helpers' conversion.
#include "platform/Text.h"
#include "platform/com/Com.h"

namespace platform {

std::u16string NarrowToUtf16(std::string_view narrow) {
  return com::Utf8ToWide(narrow);
}

std::string Utf16ToNarrow(std::u16string_view utf16) {
  return com::WideToUtf8(utf16);
}

}  // namespace platform
