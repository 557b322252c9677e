// Text between the platform's narrow encoding (UTF-8 on POSIX; on Windows the
// ANSI code page, as the system's A functions take it) and UTF-16, for files
// that are written in UTF-16; and texts compared as the user's locale
// compares them.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Bytes that do not convert (malformed UTF-8 on POSIX) become U+FFFD.
std::u16string NarrowToUtf16(std::string_view narrow);
// Units that do not convert become U+FFFD (POSIX) or the code page's default
// character (Windows).
std::string Utf16ToNarrow(std::u16string_view utf16);

// Orders two texts of the narrow encoding as the user's locale does when it
// ignores letter case: negative, 0 or positive. A strict weak order: texts
// that differ in more than letter case are never equal, so one order serves
// sorted lists and their lookups alike.
// Windows: the user locale's comparison (CompareStringA), ties broken by the
// texts in the locale's upper case, by code unit.
// POSIX: the UTF-8 texts compared by character after a simple case fold of
// the Latin (Basic, Latin-1 Supplement, Extended-A), Greek and Cyrillic
// letters, the same on every machine whatever locales it has. A byte that
// starts no valid character is compared by its value, after every
// character, and has no case.
int LocaleCompareText(std::string_view a, std::string_view b);

}  // namespace platform
