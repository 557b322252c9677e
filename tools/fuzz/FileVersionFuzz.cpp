// libFuzzer target: the fixed part of version blocks. Any bytes give a file
// version or none, and reading never leaves the block.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "toolkit/PsUtils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  (void)toolkit::ReadFixedFileVersion(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
