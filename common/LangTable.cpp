#include "common/LangTable.h"

#include <algorithm>
#include <array>

#include "platform/Services.h"
#include "vcl/SysUtils.h"

namespace common {
namespace {

struct LanguageEntry {
  char letter;
  const char* library;
};

constexpr std::array<LanguageEntry, 4> kLanguages = {{
    {'G', "DEU\\deutsch.dll"},
    {'E', "ENG\\english.dll"},
    {'F', "FRA\\french.dll"},
    {'I', "ITA\\italian.dll"},
}};

const LanguageEntry* EntryOf(uint8_t code) {
  return code >= 1 && code <= kLanguages.size() ? &kLanguages[code - 1] : nullptr;
}

}  // namespace

uint8_t LanguageCodeFromSetting(std::string_view value) {
  if (value.empty())
    return 0;
  const char first = vcl::UpperCase(value.front());
  for (size_t i = 0; i < kLanguages.size(); ++i) {
    if (kLanguages[i].letter == first)
      return static_cast<uint8_t>(i + 1);
  }
  return 0;
}

std::string LanguageSettingLetter(uint8_t code) {
  const LanguageEntry* entry = EntryOf(code);
  return entry ? std::string(1, entry->letter) : std::string();
}

std::string LanguageLibraryPath(uint8_t code) {
  const LanguageEntry* entry = EntryOf(code);
  return entry ? std::string(entry->library) : std::string();
}

std::string LoadLangString(platform::LanguageSource::Handle library, uint32_t number) {
  if (library == nullptr)
    return std::string(kNoLangEntry);
  char buffer[kLangBufferSize] = {};
  const int count = platform::languageSource().LoadString(library, number, buffer, kLangBufferSize);
  if (count < 1)
    return std::string(kNoLangEntry);
  return std::string(buffer, static_cast<size_t>(std::min(count, kLangBufferSize - 1)));
}

}  // namespace common
