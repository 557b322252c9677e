#include "toolkit/PsStrings.h"

#include <optional>
#include <utility>

#include "platform/StringTable.h"
#include "platform/System.h"
#include "toolkit/PsStringsScript.h"

namespace toolkit {
namespace {

constexpr int kFirstText = 65120;
constexpr int kLastText = 65199;

// The texts the toolkit is built with, read from their script on first use.
const platform::StringTable& CompiledTexts() {
  static const platform::StringTable texts = [] {
    platform::StringTableParse parsed = platform::ParseStringTable(kPsStringsScript);
    return parsed.table ? std::move(*parsed.table) : platform::StringTable();
  }();
  return texts;
}

}  // namespace

std::string PsString(int number) {
  if (number < kFirstText || number > kLastText)
    return std::string();
  if (std::optional<std::string> text = platform::OwnStringResource(static_cast<uint32_t>(number)))
    return std::move(*text);
  const std::string* text = CompiledTexts().Find(static_cast<uint32_t>(number));
  return text ? *text : std::string();
}

}  // namespace toolkit
