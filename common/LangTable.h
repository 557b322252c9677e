// The language libraries both programs read their texts from: which library
// belongs to which language code, and one text read by number with the
// lookup's buffer limit and its fallback.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/LanguageSource.h"

namespace common {

// What every lookup gives when there is no text: no library, or no such number.
inline constexpr std::string_view kNoLangEntry = "No entry in language-dll";
// The lookup buffer; a text keeps at most kLangBufferSize - 1 characters.
inline constexpr int kLangBufferSize = 512;

// Language codes: 1 German, 2 English, 3 French, 4 Italian, 0 none chosen.
// From the first character of [CHECK] Language, upper-cased: "G", "E", "F",
// "I"; anything else, an empty value too, gives 0.
uint8_t LanguageCodeFromSetting(std::string_view value);
inline constexpr int kLanguageCount = 4;
// "G", "E", "F" or "I" for the codes 1 to 4; empty for any other code.
std::string LanguageSettingLetter(uint8_t code);
// The library of a code, relative to the program's folder ("ENG\\english.dll");
// empty for code 0 and unknown codes.
std::string LanguageLibraryPath(uint8_t code);

// Text `number` of a loaded library, at most 511 characters; kNoLangEntry when
// the library is not loaded or has no text of that number.
std::string LoadLangString(platform::LanguageSource::Handle library, uint32_t number);

}  // namespace common
