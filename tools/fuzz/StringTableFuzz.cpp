// libFuzzer target: a language table's script, as korvamon reads it on POSIX,
// is read or refused with a line number, never crashes; a text read from it
// is copied as LoadStringA copies it: within the buffer, ended by a NUL, the
// count what was copied.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/StringTable.h"

namespace {

void Check(bool holds) {
  if (!holds)
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const uint32_t id = input.ConsumeIntegralInRange<uint32_t>(0, 70000);
  const int bufferSize = input.ConsumeIntegralInRange<int>(-1, 600);
  const std::string script = input.ConsumeRemainingBytesAsString();

  const platform::StringTableParse parse = platform::ParseStringTable(script);
  if (!parse.table) {
    Check(parse.error.rfind("line ", 0) == 0);
    return 0;
  }
  const std::string* text = parse.table->Find(id);
  std::vector<char> buffer(static_cast<size_t>(bufferSize > 0 ? bufferSize : 0) + 1, '#');
  const int count =
      platform::CopyTableText(text ? *text : std::string(), buffer.data(), bufferSize);
  if (bufferSize < 1) {
    Check(count == 0 && buffer[0] == '#');
    return 0;
  }
  Check(count >= 0 && count < bufferSize && buffer[static_cast<size_t>(count)] == '\0');
  Check(text ? std::memcmp(buffer.data(), text->data(), static_cast<size_t>(count)) == 0
             : count == 0);
  Check(buffer[static_cast<size_t>(bufferSize)] == '#');
  return 0;
}
