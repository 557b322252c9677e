// libFuzzer target: any bytes as the program's version resource are scanned
// and searched for its version and comment without reading past them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "monitor/Info.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view block(reinterpret_cast<const char*>(data), size);
  if (monitor::ScanVersionResource(block).rfind("LM", 0) != 0)
    std::abort();
  const monitor::VersionStrings strings = monitor::ReadVersionStrings(block);
  if (strings.version.size() > size || strings.comment.size() > size)
    std::abort();
  return 0;
}
