// Text between the platform's narrow encoding (UTF-8 on POSIX; on Windows the
// ANSI code page, as the system's A functions take it) and UTF-16, for files
// that are written in UTF-16.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Bytes that do not convert (malformed UTF-8 on POSIX) become U+FFFD.
std::u16string NarrowToUtf16(std::string_view narrow);
// Units that do not convert become U+FFFD (POSIX) or the code page's default
// character (Windows).
std::string Utf16ToNarrow(std::u16string_view utf16);

}  // namespace platform
