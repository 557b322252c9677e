// The system's own text for an error code (FormatMessage), on one line: the
// blanks and the line break the system stores around it are left out, so the
// text fits history lines, message boxes and fields of one line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform::win32 {

// Whether the text keeps the period its sentence ends with. A text that goes
// into a sentence of ours, in parentheses, drops it.
enum class FinalPeriod { Keep, Drop };

// In the narrow encoding (the ANSI code page); empty when the system has no
// text for the code.
std::string ErrorText(uint32_t code, FinalPeriod period = FinalPeriod::Keep);
// In UTF-16, for the wide interfaces; empty when the system has no text.
std::u16string ErrorTextUtf16(uint32_t code, FinalPeriod period = FinalPeriod::Keep);

// What ErrorTextUtf16 makes of the text the system gives.
std::u16string OneLineErrorText(std::u16string_view text, FinalPeriod period);

}  // namespace platform::win32
