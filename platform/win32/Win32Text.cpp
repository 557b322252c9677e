// On Windows the narrow encoding is the ANSI code page.
#include <windows.h>

#include <climits>

#include "platform/Text.h"

namespace platform {

std::u16string NarrowToUtf16(std::string_view narrow) {
  if (narrow.empty() || narrow.size() > INT_MAX)
    return {};
  const int size = static_cast<int>(narrow.size());
  const int units = MultiByteToWideChar(CP_ACP, 0, narrow.data(), size, nullptr, 0);
  std::u16string utf16(static_cast<size_t>(units > 0 ? units : 0), u'\0');
  if (units > 0) {
    MultiByteToWideChar(CP_ACP, 0, narrow.data(), size, reinterpret_cast<wchar_t*>(utf16.data()),
                        units);
  }
  return utf16;
}

std::string Utf16ToNarrow(std::u16string_view utf16) {
  if (utf16.empty() || utf16.size() > INT_MAX)
    return {};
  const auto* wide = reinterpret_cast<const wchar_t*>(utf16.data());
  const int size = static_cast<int>(utf16.size());
  const int bytes = WideCharToMultiByte(CP_ACP, 0, wide, size, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
  if (bytes > 0)
    WideCharToMultiByte(CP_ACP, 0, wide, size, narrow.data(), bytes, nullptr, nullptr);
  return narrow;
}

}  // namespace platform
