// libFuzzer target: a language text used as a format takes its argument in
// place of its first "%s" and nowhere else, whatever either of them holds.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "monitor/lang.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string argument = input.ConsumeRandomLengthString(64);
  const std::string text = input.ConsumeRemainingBytesAsString();
  const std::string formatted = monitor::FormatLangText(text, argument);
  const size_t at = text.find("%s");
  const std::string expected =
      at == std::string::npos ? text : text.substr(0, at) + argument + text.substr(at + 2);
  if (formatted != expected)
    std::abort();
  return 0;
}
