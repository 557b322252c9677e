// libFuzzer target: the settings-file engine reads any text without harm; a
// value it writes reads back as a file holding only that value gives it,
// while any other key keeps its value; a removed key is gone and the others
// stay.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/IniFile.h"

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

// Names as the engine matches them: trimmed, ASCII case ignored.
bool SameName(std::string_view a, std::string_view b) {
  a = Trim(a);
  b = Trim(b);
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
    if (upper(a[i]) != upper(b[i]))
      return false;
  }
  return true;
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

  const auto other = common::IniLookup(text, otherSection, otherKey);
  const bool sameKey = SameName(section, otherSection) && SameName(key, otherKey);

  if (!common::IniWriteProblem(section, key, value)) {
    const std::string written = common::IniAssign(text, section, key, value);
    const std::string alone = "[" + section + "]\r\n" + key + "=" + value + "\r\n";
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
