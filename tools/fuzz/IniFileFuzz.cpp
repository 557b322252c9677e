// libFuzzer target: the settings-file engine reads any text, 8-bit or UTF-16,
// without harm; a value it writes reads back as a file of the same encoding
// holding only that value gives it, while any other key keeps its value; a
// removed key is gone and the others stay.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/IniFile.h"
#include "platform/Text.h"

namespace {

void Check(bool holds) {
  if (!holds)
    std::abort();
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
    text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
    text.remove_suffix(1);
  return text;
}

// Names as the engine matches them: trimmed, ASCII case ignored, in UTF-16
// for a UTF-16 file (where names that do not convert become alike).
template <class Char>
bool SameUnits(std::basic_string_view<Char> a, std::basic_string_view<Char> b) {
  if (a.size() != b.size())
    return false;
  const auto upper = [](Char c) { return c >= 'a' && c <= 'z' ? static_cast<Char>(c - 32) : c; };
  for (size_t i = 0; i < a.size(); ++i) {
    if (upper(a[i]) != upper(b[i]))
      return false;
  }
  return true;
}

bool SameName(std::string_view a, std::string_view b, bool utf16) {
  a = Trim(a);
  b = Trim(b);
  if (!utf16)
    return SameUnits(a, b);
  return SameUnits<char16_t>(platform::NarrowToUtf16(a), platform::NarrowToUtf16(b));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string section = input.ConsumeRandomLengthString(24);
  const std::string key = input.ConsumeRandomLengthString(24);
  const std::string value = input.ConsumeRandomLengthString(64);
  const std::string otherSection = input.ConsumeRandomLengthString(24);
  const std::string otherKey = input.ConsumeRandomLengthString(24);
  const std::string text = input.ConsumeRemainingBytesAsString();

  const bool utf16 = text.starts_with("\xFF\xFE");
  const auto other = common::IniLookup(text, otherSection, otherKey);
  const bool sameKey = SameName(section, otherSection, utf16) && SameName(key, otherKey, utf16);

  if (!common::IniWriteProblem(section, key, value)) {
    const std::string written = common::IniAssign(text, section, key, value);
    const std::string alone = common::IniAssign(utf16 ? "\xFF\xFE" : "", section, key, value);
    Check(common::IniLookup(written, section, key) == common::IniLookup(alone, section, key));
    if (!sameKey)
      Check(common::IniLookup(written, otherSection, otherKey) == other);
  }
  if (const auto removed = common::IniRemove(text, section, key)) {
    Check(!common::IniLookup(*removed, section, key));
    if (!sameKey)
      Check(common::IniLookup(*removed, otherSection, otherKey) == other);
  }
  return 0;
}
